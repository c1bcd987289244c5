#include "schedule/schedule_summary.h"

#include "schedule/entry_parts.h"
#include "schedule/fdt.h"

namespace {

bool is_tone(uint32_t index) {
    return fdt[index].text == nullptr;
}

void recount(schedule_summary& s) {
    s = schedule_summary{true, fdt_pos, num_fdt, 0, 0, 0, 0};
    for (uint32_t i = 0; i < num_fdt; ++i) {
        if (!is_tone(i)) continue;
        ++s.tones;
        s.seconds += entry_sound_seconds(fdt[i].duration);
        if (s.pos != before_first_entry && i <= s.pos)
            ++s.tones_through;
        else
            s.seconds_after += entry_sound_seconds(fdt[i].duration);
    }
}

}  // namespace

void follow_schedule(schedule_summary& s) {
    const uint32_t pos = fdt_pos;
    const bool moved = pos != s.pos;
    const bool grown = num_fdt != s.entries;
    if (!s.valid || pos == before_first_entry || s.pos == before_first_entry || pos < s.pos ||
        num_fdt < s.entries || (moved && grown) || pos >= num_fdt) {
        recount(s);
        return;
    }
    if (grown) {
        // The keys insert right after the playing entry.
        for (uint32_t i = pos + 1; i <= pos + (num_fdt - s.entries); ++i) {
            if (!is_tone(i)) continue;
            ++s.tones;
            s.seconds_after += entry_sound_seconds(fdt[i].duration);
            s.seconds += entry_sound_seconds(fdt[i].duration);
        }
        s.entries = num_fdt;
    }
    while (s.pos < pos) {
        ++s.pos;
        if (!is_tone(s.pos)) continue;
        ++s.tones_through;
        s.seconds_after -= entry_sound_seconds(fdt[s.pos].duration);
    }
}

