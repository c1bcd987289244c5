#include "platform/windows/clock_win32.h"

#include <windows.h>

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
