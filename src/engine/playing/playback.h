#pragma once

#include <cstdint>
#include <memory>

#include "schedule/entry_parts.h"

// Logs the tone line and plays the entry, its pulsed tail apart, each part
// from phase 0 (schedule/entry_parts.h).
void play_entry(double frequency, int duration);
// Plays one tone on a freshly opened device until its time is over or a key
// ends it. The seconds it sounded when --until cut it (0 when the stop came
// before it), else -1.
int64_t play_tone(double frequency, int seconds, int pulse);
