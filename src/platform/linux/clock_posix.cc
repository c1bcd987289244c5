#include "platform/linux/clock_posix.h"

#include <ctime>

int64_t posix_clock::now_seconds() {
    return static_cast<int64_t>(time(nullptr));
}

int64_t posix_clock::monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void posix_clock::sleep_ms(int ms) {
    // A signal cuts the sleep short on purpose: the caller checks for it.
    timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}
