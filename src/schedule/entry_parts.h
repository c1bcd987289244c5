#pragma once

#include <cstdint>

// The parts an entry sounds in: with -p and a pulse duration that fits, a
// steady part and then the pulsed tail; otherwise one.
struct entry_parts {
    int first_seconds;
    int first_pulse;
    bool split;
    int tail_seconds;
    int tail_pulse;
};
entry_parts split_entry(int duration);
// The seconds of sound an entry gives: its parts of 1 s or more.
int64_t entry_sound_seconds(int duration);
