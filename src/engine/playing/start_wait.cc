#include "engine/playing/start_wait.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "engine/control/control.h"
#include "engine/status/status_line.h"
#include "engine/clock/stop_time.h"
#include "engine/clock/time_of_day.h"
#include "log/log.h"
#include "log/terminal_lines.h"
#include "platform/civil_time.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"
#include "schedule/fdt.h"

namespace {

constexpr int poll_step_ms = 50;
// The keys that act on the playing tone (the arrows arrive as s and b).
constexpr const char* playing_keys = "+-nNsbp";
// Later than this, a start says how late it is.
constexpr int64_t late_after_seconds = 5;

start_wait_state state;
const reset_step start_wait_reset{[] { state = start_wait_state{}; }};

// Without --until, a start later than this waits for the next day's time:
// a clock set from a stale date, or a machine that slept through the night.
constexpr int64_t late_start_limit_seconds = 12 * 3600;

int64_t real_seconds_left(clock_source& clock, const time_of_day_watch& watch, int64_t second) {
    return real_seconds_until(watch, second, [&clock](int64_t s) { return clock.local_time(s); });
}

// The start came, but too late to play: the window closed, or without one
// the start is more than half a day behind. The watch then waits for the
// time's next coming, which the user is told of; false when the run plays.
bool start_missed(time_of_day_watch& watch, const watch_look& look, const std::tm& local, int64_t second) {
    const int64_t face = civil_seconds(local);
    const int64_t window = stop_window_seconds();
    const bool missed = window >= 0 ? face >= watch.due + window : look.late_seconds > late_start_limit_seconds;
    if (!missed) return false;
    watch.due = next_time_of_day(face, settings.start_at);
    state.seconds_left = real_seconds_left(current_platform->clock, watch, second);
    const std::string start_text = time_of_day_text(settings.start_at);
    // With its date: the clock may have been days or years off.
    char now_text[32];
    if (strftime(now_text, sizeof now_text, "%Y-%m-%d %H:%M:%S", &local) == 0) now_text[0] = '\0';
    const std::string in_text = clock_text(state.seconds_left);
    clear_terminal_lines();
    if (window >= 0)
        log_err("%s: the window from %s to %s had closed when the run could start, at %s: it starts with the next "
                "one, at %s, in %s\n",
                program_name, start_text.c_str(), time_of_day_text(settings.stop_at).c_str(), now_text,
                start_text.c_str(), in_text.c_str());
    else
        log_err("%s: %s late for %s when the run could start, at %s: it starts at the next day's %s, in %s\n",
                program_name, clock_text(look.late_seconds).c_str(), start_text.c_str(), now_text,
                start_text.c_str(), in_text.c_str());
    return true;
}

}  // namespace

const start_wait_state& start_wait() {
    return state;
}

void wait_for_start_time() {
    if (settings.start_at < 0) return;
    clock_source& clock = current_platform->clock;
    // A machine asleep at the time would not start.
    if (!settings.allow_sleep) current_platform->sleep.hold();
    int64_t second = clock.now_seconds();
    std::tm local = clock.local_time(second);
    time_of_day_watch watch = start_watch(settings.start_at, local, second, true);
    watch_look look = look_at_clock(watch, local, second);
    const std::string start_text = time_of_day_text(settings.start_at);
    state = {true, settings.start_at, real_seconds_left(clock, watch, second)};
    log_out("# waiting to start at %s, in %s\n", start_text.c_str(), clock_text(state.seconds_left).c_str());
    // Nothing plays yet: a status asked for meanwhile counts the whole
    // schedule as ahead.
    fdt_pos = before_first_entry;
    for (;;) {
        if (look.come && !start_missed(watch, look, local, second)) break;
        status_line_countdown(poll_step_ms, "starts " + start_text + ", in " + clock_text(state.seconds_left));
        flush_records();
        clock.sleep_ms(poll_step_ms);
        check_interrupt();
        tell_control_start_wait(state.start_at, state.seconds_left);
        const int key = poll_keys_and_control(run_phase::waiting_to_start, 0);
        if (key == 'q' || key == key_quit) on_sigint(SIGINT);
        if (key > 0 && key < 128 && strchr(playing_keys, key) != nullptr) {
            clear_terminal_lines();
            err_printf("%s: %s\n", program_name, start_wait_refusal(std::string(1, static_cast<char>(key))).c_str());
        }
        // The local time is asked for once a second: each asking reloads
        // the zone.
        const int64_t now = clock.now_seconds();
        look.come = false;
        if (now == second) continue;
        second = now;
        local = clock.local_time(second);
        look = look_at_clock(watch, local, second);
        if (!look.come) state.seconds_left = real_seconds_left(clock, watch, second);
    }
    state.waiting = false;
    stop_window_opened(watch.due);
    const std::string now_text = time_of_day_text(local);
    if (look.late_seconds > late_after_seconds)
        log_out("# started at %s, %s late for %s\n", now_text.c_str(), clock_text(look.late_seconds).c_str(),
                start_text.c_str());
    else
        log_out("# started at %s\n", now_text.c_str());
}
