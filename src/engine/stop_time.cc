#include "engine/stop_time.h"

#include <cstdint>
#include <ctime>

#include "engine/time_of_day.h"
#include "log/log.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"

namespace {

struct stop_watch {
    bool armed = false;
    bool come = false;
    time_of_day_watch watch{};
};

stop_watch stop;
const reset_step stop_time_reset{[] { stop = stop_watch{}; }};

}  // namespace

void arm_stop_time() {
    if (settings.stop_at < 0) return;
    clock_source& clock = current_platform->clock;
    const int64_t second = clock.now_seconds();
    stop.watch = start_watch(settings.stop_at, clock.local_time(second), second, false);
    stop.armed = true;
}

bool stop_time_has_come() {
    if (!stop.armed || stop.come) return stop.come;
    clock_source& clock = current_platform->clock;
    const int64_t second = clock.now_seconds();
    // The local time is asked for once a second: each asking reloads the
    // zone.
    if (second == stop.watch.last_second) return false;
    const std::tm local = clock.local_time(second);
    if (!look_at_clock(stop.watch, local, second).come) return false;
    stop.come = true;
    log_out("# stopped at %s, as --until asked\n", time_of_day_text(local).c_str());
    return true;
}
