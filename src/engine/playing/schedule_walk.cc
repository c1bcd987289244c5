#include "engine/playing/schedule_walk.h"

#include "engine/control/control.h"
#include "engine/clock/passes.h"
#include "engine/status/status_line.h"
#include "engine/clock/stop_time.h"
#include "log/log.h"
#include "schedule/entry_parts.h"
#include "schedule/fdt.h"

namespace {

bool started = false;

}  // namespace

void begin_schedule_walk() {
    started = false;
}

bool walk_to_next_tone(walked_tone& tone) {
    for (;;) {
        // From the position before the first entry, as the back key leaves
        // it too, the advance wraps to 0.
        fdt_pos = started ? fdt_pos + 1 : 0;
        started = true;
        if (stop_time_has_come()) return false;
        if (fdt_pos >= num_fdt) {
            // --loop: the next pass walks on from before the first entry.
            if (!another_pass()) return false;
            fdt_pos = before_first_entry;
            continue;
        }
        const fdt_entry entry = fdt[fdt_pos];
        if (entry.text != nullptr) {
            log_out("%s", entry.text);
            continue;
        }
        log_tone_line(entry.frequency, entry.duration);
        status_line_entry(entry.frequency, entry.duration);
        tell_control_clients_tone_start(entry.frequency, entry.duration);
        tone = {entry.frequency, entry.duration};
        return true;
    }
}

bool sound_lies_ahead() {
    const uint32_t from = started ? fdt_pos + 1 : 0;
    for (uint32_t i = from; i < num_fdt; ++i)
        if (fdt[i].text == nullptr && entry_sound_seconds(fdt[i].duration) > 0) return true;
    return another_pass_follows();
}
