#pragma once

#include <cstdint>

// Where the playing entry stands in the schedule. Kept up to date step by
// step as the play loop advances and the keys insert after the playing
// entry, so that a long schedule is not walked at every update.
struct schedule_summary {
    bool valid = false;
    uint32_t pos = 0;            // the fdt_pos it describes
    uint32_t entries = 0;        // the num_fdt it describes
    uint32_t tones_through = 0;  // tone entries up to pos, pos included
    uint32_t tones = 0;          // tone entries in the whole table
    int64_t seconds_after = 0;   // sound of the tone entries after pos
    int64_t seconds = 0;         // sound of every tone entry: one pass
};

// Brings the summary up to date with fdt_pos and num_fdt.
void follow_schedule(schedule_summary& s);
