#pragma once

#include <memory>

#include "platform/wave_audio.h"

// The open output device while a tone sounds.
extern std::unique_ptr<wave_output> wave_out;

// Logs the tone line and plays the entry, its pulsed tail apart.
void play_entry(double frequency, int duration);
// Plays one tone on a freshly opened device until its time is over or a key
// ends it.
void play_tone(double frequency, int seconds, int pulse);
