#pragma once

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <csignal>

// The interrupt handlers restart the calls a signal interrupts, so that a
// write Ctrl-C lands in goes on. A call that waits for someone else (a FIFO's
// other end, a child process) would then wait through Ctrl-C too: such waits
// are cut into short slices that look at the signal flag between them.
inline constexpr int interrupt_look_ms = 50;

// Until fd is ready for events, has hung up or failed: true; false once stop
// is set first.
inline bool wait_for_fd(int fd, short events, const volatile std::sig_atomic_t& stop) {
    for (;;) {
        if (stop != 0) return false;
        pollfd waiting{fd, events, 0};
        const int ready = poll(&waiting, 1, interrupt_look_ms);
        if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
    }
}

// One slice of a wait that has nothing to poll.
inline void sleep_one_slice() {
    timespec slice{0, interrupt_look_ms * 1000000L};
    nanosleep(&slice, nullptr);
}
