#include "platform/linux/clock_posix.h"

#include <ctime>

int64_t posix_clock::now_seconds() {
    return static_cast<int64_t>(time(nullptr));
}

void posix_clock::sleep_ms(int ms) {
    // A signal cuts the sleep short on purpose: the caller checks for it.
    timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}
