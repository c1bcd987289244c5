#include "platform/windows/clock_win32.h"

#include <windows.h>

#include <array>
#include <ctime>

int64_t win32_clock::now_seconds() {
    return static_cast<int64_t>(_time64(nullptr));
}

int64_t win32_clock::monotonic_ms() {
    return static_cast<int64_t>(GetTickCount64());
}

void win32_clock::sleep_ms(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

void win32_clock::wait(std::span<const wait_handle> handles, int ms) {
    // Events only: a pipe or a console handle that is not waitable is left
    // to its owner's own event. WaitForMultipleObjects takes 64 at most.
    std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> events{};
    DWORD count = 0;
    auto add = [&](const wait_handle& handle) {
        if (handle.empty() || count == events.size()) return;
        events[count++] = reinterpret_cast<HANDLE>(handle.handle);
    };
    add(interrupt_wait_handle());
    for (const wait_handle& handle : handles) add(handle);
    const DWORD timeout = ms < 0 ? 0 : static_cast<DWORD>(ms);
    if (count == 0) {
        Sleep(timeout);
        return;
    }
    WaitForMultipleObjects(count, events.data(), FALSE, timeout);
}
