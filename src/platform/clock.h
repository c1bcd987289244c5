#pragma once

#include <cstdint>

// The calendar clock in whole seconds and the millisecond sleep. Tones and
// pauses are timed on the whole-second clock; the poll step and the
// session-name retry sleep.
struct clock_source {
    virtual ~clock_source() = default;
    // Seconds since the epoch, as time() gives them.
    virtual int64_t now_seconds() = 0;
    // Sleeps about ms milliseconds. May return early when a signal arrives,
    // so that the caller can act on it at once.
    virtual void sleep_ms(int ms) = 0;
};
