#include "engine/clock/stop_time.h"

#include <cstdint>
#include <ctime>

#include "engine/clock/time_of_day.h"
#include "platform/civil_time.h"
#include "log/log.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"

namespace {

struct stop_watch {
    bool armed = false;
    bool come = false;
    time_of_day_watch watch{};
    int64_t seconds_left = -1;  // real ones, as of the last look
};

stop_watch stop;
// The clock-face second at which the window that --at opened closes; -1
// while none has opened.
int64_t window_end = -1;
const reset_step stop_time_reset{[] {
    stop = stop_watch{};
    window_end = -1;
}};
constexpr int64_t seconds_per_day = 86400;

}  // namespace

void arm_stop_time() {
    if (settings.stop_at < 0) return;
    clock_source& clock = current_platform->clock;
    const int64_t second = clock.now_seconds();
    const std::tm local = clock.local_time(second);
    stop.watch = start_watch(settings.stop_at, local, second, false);
    // After --at, the window's end: a late start plays only what is left
    // of it.
    if (window_end >= 0) stop.watch.due = window_end;
    stop.armed = true;
    stop.seconds_left = real_seconds_until(stop.watch, second, [&clock](int64_t s) { return clock.local_time(s); });
}

bool stop_time_has_come() {
    if (!stop.armed || stop.come) return stop.come;
    clock_source& clock = current_platform->clock;
    const int64_t second = clock.now_seconds();
    // The local time is asked for once a second: each asking reloads the
    // zone.
    if (second == stop.watch.last_second) return false;
    const std::tm local = clock.local_time(second);
    if (!look_at_clock(stop.watch, local, second).come) {
        stop.seconds_left = real_seconds_until(stop.watch, second, [&clock](int64_t s) { return clock.local_time(s); });
        return false;
    }
    stop.come = true;
    stop.seconds_left = 0;
    log_out("# stopped at %s, as --until asked\n", time_of_day_text(local).c_str());
    return true;
}

void stop_time_reached(int64_t stop_second) {
    if (!stop.armed || stop.come) return;
    stop.come = true;
    stop.seconds_left = 0;
    const int64_t second = stop_second >= 0 ? stop_second : current_platform->clock.now_seconds();
    log_out("# stopped at %s, as --until asked\n", time_of_day_text(current_platform->clock.local_time(second)).c_str());
}

int64_t stop_window_seconds() {
    if (settings.start_at < 0 || settings.stop_at < 0) return -1;
    const int64_t length = ((settings.stop_at - settings.start_at) % seconds_per_day + seconds_per_day) % seconds_per_day;
    return length == 0 ? seconds_per_day : length;
}

void stop_window_opened(int64_t face_second) {
    const int64_t length = stop_window_seconds();
    window_end = length < 0 ? -1 : face_second + length;
}

int64_t stop_time_seconds_left() {
    // Before the first tone, --at waits: the window is what is left at most.
    if (!stop.armed) return settings.start_at >= 0 ? stop_window_seconds() : -1;
    return stop.come ? 0 : stop.seconds_left;
}

int64_t stop_time_calendar_second() {
    if (!stop.armed) return -1;
    return stop.watch.last_second + stop_time_seconds_left();
}
