#pragma once

#include <cstdint>
#include <memory>

#include "platform/wave_audio.h"

// The parts an entry sounds in: with -p and a pulse duration that fits, a
// steady part and then the pulsed tail, each from phase 0; otherwise one.
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

// Logs the tone line and plays the entry, its pulsed tail apart.
void play_entry(double frequency, int duration);
// Plays one tone on a freshly opened device until its time is over or a key
// ends it.
void play_tone(double frequency, int seconds, int pulse);
