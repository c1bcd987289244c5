#include "platform/windows/terminal_line_console.h"

#include <cstdio>
#include <string>

namespace {

class console_terminal_line final : public terminal_line {
public:
    explicit console_terminal_line(DWORD std_handle) : std_handle_(std_handle) {}
    ~console_terminal_line() override { erase(); }
    console_terminal_line(const console_terminal_line&) = delete;
    console_terminal_line& operator=(const console_terminal_line&) = delete;

    bool usable() override {
        if (!checked_) {
            checked_ = true;
            handle_ = GetStdHandle(std_handle_);
            DWORD mode = 0;
            usable_ = handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr && GetConsoleMode(handle_, &mode);
        }
        return usable_;
    }

    int width() override {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!usable() || !GetConsoleScreenBufferInfo(handle_, &info)) return 0;
        return info.srWindow.Right - info.srWindow.Left + 1;
    }

    bool showing() override { return showing_; }

    // Written into the row the cursor is on, which stays at its start: what
    // the run prints next overwrites the line, and erase() blanks it first.
    void show(const std::string& text) override {
        COORD start{};
        if (!line_start(start)) return;
        blank_row(start);
        DWORD written = 0;
        WriteConsoleOutputCharacterA(handle_, text.data(), static_cast<DWORD>(text.size()), start, &written);
        SetConsoleCursorPosition(handle_, start);
        showing_ = true;
    }

    void erase() override {
        if (!showing_) return;
        COORD start{};
        if (line_start(start)) blank_row(start);
        showing_ = false;
    }

private:
    // The start of the cursor's row, once the C library has written out what
    // it holds for the stream, so that the cursor is where the text ends.
    bool line_start(COORD& start) {
        if (!usable()) return false;
        fflush(std_handle_ == STD_ERROR_HANDLE ? stderr : stdout);
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (!GetConsoleScreenBufferInfo(handle_, &info)) return false;
        start = COORD{0, info.dwCursorPosition.Y};
        columns_ = info.dwSize.X;
        return true;
    }

    void blank_row(COORD start) {
        DWORD written = 0;
        FillConsoleOutputCharacterA(handle_, ' ', static_cast<DWORD>(columns_), start, &written);
        SetConsoleCursorPosition(handle_, start);
    }

    DWORD std_handle_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    SHORT columns_ = 0;
    bool checked_ = false;
    bool usable_ = false;
    bool showing_ = false;
};

}  // namespace

std::unique_ptr<terminal_line> make_console_terminal_line(DWORD std_handle) {
    return std::make_unique<console_terminal_line>(std_handle);
}
