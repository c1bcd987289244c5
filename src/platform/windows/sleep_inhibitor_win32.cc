#include "platform/windows/sleep_inhibitor_win32.h"

#include <windows.h>

namespace {

class win32_sleep_inhibitor final : public sleep_inhibitor {
public:
    ~win32_sleep_inhibitor() override { release(); }

    void hold() override {
        if (held_) return;
        held_ = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
    }

    void release() override {
        if (!held_) return;
        SetThreadExecutionState(ES_CONTINUOUS);
        held_ = false;
    }

private:
    bool held_ = false;
};

}  // namespace

std::unique_ptr<sleep_inhibitor> make_win32_sleep_inhibitor() {
    return std::make_unique<win32_sleep_inhibitor>();
}
