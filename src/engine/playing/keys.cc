#include "engine/playing/keys.h"

#include <climits>
#include <csignal>

#include "engine/control/control.h"
#include "engine/status/status_line.h"
#include "engine/clock/stop_time.h"
#include "log/log.h"
#include "platform/key_source.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/state.h"
#include "schedule/fdt.h"

namespace {

// Each list ends at its first 0.0.
constexpr double near_offsets[] = {3, 2, 1, -1, -2, -3, 0.0};
constexpr double fine_offsets[] = {3,     2,    1.5,   1,    0.75, 0.5, 0.25, 0.1, 0.05, -0.05,
                                   -0.1, -0.25, -0.5, -0.75, -1,   -1.5, -2,   -3,  0.0};
constexpr int added_duration = 180;
constexpr int pause_poll_ms = 10;

// The key source may have changed the terminal's mode; it is given back as
// the run ends.
const release_step terminal_release{release_order::terminal, [] {
    if (current_platform != nullptr) current_platform->keys.restore();
}};

// Right after the playing entry; keys bypass the admission rules.
void add_tone(double frequency) {
    log_out("# added %g, %d\n", frequency, added_duration);
    fdt_insert(frequency, added_duration, nullptr, static_cast<int>(fdt_pos + 1));
    tell_control_entry_inserted(fdt_pos + 1);
}

void add_tones(const double* list, double f) {
    for (; *list != 0.0; ++list) add_tone(f + *list);
}

// Leaves fdt_pos just before the nearest earlier tone entry, so that the
// play loop's advance lands on it.
void go_back() {
    uint32_t p = fdt_pos;
    while (p > 0 && p != before_first_entry) {
        --p;
        if (fdt[p].text == nullptr) {
            log_out("#back to previous frequency\n");
            break;
        }
    }
    if (p != before_first_entry) --p;
    fdt_pos = p;
}

// Waits for any key with a code, or a client's command; that key only
// resumes, but a quit command ends the run. The paused seconds do not count
// towards the tone.
void pause(int64_t& start_second) {
    clock_source& clock = current_platform->clock;
    announce_pause();
    int64_t pause_second = clock.now_seconds();
    int key = key_none;
    while ((key = poll_keys_and_control(run_phase::paused, pause_second - start_second)) == key_none &&
           !stop_time_has_come()) {
        clock.sleep_ms(pause_poll_ms);
        check_interrupt();
        status_line_step(pause_poll_ms, pause_second - start_second, true);
    }
    if (key == key_quit) on_sigint(SIGINT);
    start_second += clock.now_seconds() - pause_second;
    tell_control_clients(run_event::resume);
}

}  // namespace

void announce_pause() {
    log_out("#pause\n");
    flush_records();
    tell_control_clients(run_event::pause);
}

key_effect dispatch_key(int code, double f, int64_t& start_second) {
    switch (code) {
    case '+':
        add_tone(f + 1);
        break;
    case '-':
        add_tone(f - 1);
        break;
    case 'n':
        add_tones(near_offsets, f);
        break;
    case 'N':
        add_tones(fine_offsets, f);
        break;
    case 'b':
        go_back();
        return key_effect::tone_ends;
    case 'q':
    case key_quit:
        on_sigint(SIGINT);
    case 's':
        log_out("#skip to next frequency in list\n");
        return key_effect::tone_ends;
    case 'p':
        pause(start_second);
        break;
    default:
        break;
    }
    return key_effect::tone_goes_on;
}
