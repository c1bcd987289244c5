#include "platform/windows/key_source_console.h"

#include "platform/windows/console_keys.h"

namespace {

// One peek or read never asks for more.
constexpr DWORD batch_records = 128;

class console_key_source final : public key_source {
public:
    int poll_key() override {
        if (console_input_ == INVALID_HANDLE_VALUE) {
            console_input_ = GetStdHandle(STD_INPUT_HANDLE);
            if (console_input_ == INVALID_HANDLE_VALUE) return key_console_missing;
        }
        INPUT_RECORD records[batch_records];
        DWORD count = 0;
        // A failed peek is no key: standard input is redirected, and the
        // schedule plays unattended.
        if (!PeekConsoleInputA(console_input_, records, batch_records, &count) || count == 0) return key_none;
        if (!ReadConsoleInputA(console_input_, records, batch_records, &count)) return key_read_failed;
        std::optional<int> code = first_console_key(records, count);
        if (!code) return key_none;  // releases, mouse, focus or size events only
        // Whatever else is waiting goes with this batch.
        FlushConsoleInputBuffer(console_input_);
        return *code;
    }

    // A console's input handle is signalled while records wait; a file or a
    // pipe standing in for it would always be, so only a console counts.
    wait_handle ready_handle() override {
        if (!has_terminal()) return {};
        return {reinterpret_cast<intptr_t>(console_input_), wait_handle::ready::to_read};
    }

    bool has_terminal() override {
        if (!checked_) {
            checked_ = true;
            const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
            DWORD mode = 0;
            is_console_ = input != INVALID_HANDLE_VALUE && input != nullptr && GetConsoleMode(input, &mode) != 0;
            if (is_console_) console_input_ = input;
        }
        return is_console_;
    }

private:
    HANDLE console_input_ = INVALID_HANDLE_VALUE;
    bool checked_ = false;
    bool is_console_ = false;
};

}  // namespace

std::unique_ptr<key_source> make_console_key_source() {
    return std::make_unique<console_key_source>();
}
