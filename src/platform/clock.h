#pragma once

#include <cstdint>
#include <ctime>
#include <span>

#include "platform/os.h"
#include "platform/wait_handle.h"

// The calendar clock in whole seconds, a monotonic clock in milliseconds and
// the millisecond sleep. Tones and pauses are timed on the whole-second
// clock; waits that must keep their word (for a sound device) on the
// monotonic one, which no setting of the calendar clock moves; the poll step
// and the session-name retry sleep.
struct clock_source {
    virtual ~clock_source() = default;
    // Seconds since the epoch, as time() gives them.
    virtual int64_t now_seconds() = 0;
    // Milliseconds from some fixed moment; never goes back.
    virtual int64_t monotonic_ms() = 0;
    // Sleeps about ms milliseconds. May return early when a signal arrives,
    // so that the caller can act on it at once.
    virtual void sleep_ms(int ms) = 0;
    // Sleeps up to ms milliseconds, or until one of handles is ready or an
    // interrupt signal arrives, whichever is first: the one wait of a player
    // that is woken only by what needs it. Spurious early returns are
    // allowed; the caller looks at everything after each.
    virtual void wait(std::span<const wait_handle> handles, int ms) {
        (void)handles;
        sleep_ms(ms);
    }
    // The local broken-down time of a calendar second, in the zone the
    // system is set to when asked, so that a change of zone or of summer
    // time shows at once. The simulated clock keeps a zone of its own.
    virtual std::tm local_time(int64_t seconds) { return ::local_time(seconds); }
};
