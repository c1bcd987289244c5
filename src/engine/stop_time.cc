#include "engine/stop_time.h"

#include <cstdint>
#include <ctime>

#include "engine/start_wait.h"
#include "engine/time_of_day.h"
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
const reset_step stop_time_reset{[] { stop = stop_watch{}; }};

}  // namespace

void arm_stop_time() {
    if (settings.stop_at < 0) return;
    clock_source& clock = current_platform->clock;
    const int64_t second = clock.now_seconds();
    const std::tm local = clock.local_time(second);
    stop.watch = start_watch(settings.stop_at, local, second, false);
    // After --at, the window's end: a late start plays only what is left
    // of it.
    if (start_wait().window_end >= 0) stop.watch.due = start_wait().window_end;
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

int64_t stop_time_seconds_left() {
    if (!stop.armed) return -1;
    return stop.come ? 0 : stop.seconds_left;
}

int64_t stop_time_calendar_second() {
    if (!stop.armed) return -1;
    return stop.watch.last_second + stop_time_seconds_left();
}
