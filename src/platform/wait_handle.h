#pragma once

#include <cstdint>

// Something the run's one wait (clock_source::wait) wakes for: a file
// descriptor on Linux, an event handle on Windows. A counter is one that the
// wait itself clears once it woke for it (an eventfd; an auto-reset event),
// so that the next wait sleeps again.
struct wait_handle {
    enum class ready : uint8_t { to_read, to_write, counter };
    intptr_t handle = -1;  // -1: nothing to wait on
    ready when = ready::to_read;

    bool empty() const { return handle == -1; }
};
