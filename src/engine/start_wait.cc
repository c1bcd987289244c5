#include "engine/start_wait.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <string>

#include "engine/control.h"
#include "engine/status_line.h"
#include "engine/time_of_day.h"
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

// Clock-face seconds ahead as real seconds: summer time beginning or ending
// before then shortens or lengthens the wait by the change.
int64_t real_seconds_left(clock_source& clock, const std::tm& local, int64_t second, int64_t face_seconds) {
    const int64_t then = second + face_seconds;
    const int64_t offset_now = civil_seconds(local) - second;
    const int64_t offset_then = civil_seconds(clock.local_time(then)) - then;
    return std::max<int64_t>(0, face_seconds - (offset_then - offset_now));
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
    state = {true, settings.start_at, real_seconds_left(clock, local, second, look.seconds_left)};
    log_out("# waiting to start at %s, in %s\n", start_text.c_str(), clock_text(state.seconds_left).c_str());
    // Nothing plays yet: a status asked for meanwhile counts the whole
    // schedule as ahead.
    fdt_pos = before_first_entry;
    while (!look.come) {
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
        if (now == second) continue;
        second = now;
        local = clock.local_time(second);
        look = look_at_clock(watch, local, second);
        state.seconds_left = real_seconds_left(clock, local, second, look.seconds_left);
    }
    state.waiting = false;
    const std::string now_text = time_of_day_text(local);
    if (look.late_seconds > late_after_seconds)
        log_out("# started at %s, %s late for %s\n", now_text.c_str(), clock_text(look.late_seconds).c_str(),
                start_text.c_str());
    else
        log_out("# started at %s\n", now_text.c_str());
}
