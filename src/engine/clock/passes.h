#pragma once

#include <cstdint>

// --loop: the schedule plays settings.passes times, or with 0 until --until,
// q or Ctrl-C; each pass from the first entry, with the tones that keys
// added kept.

// Called after each pass: whether another follows, its line ("# pass 2 of
// 3", or "# pass 2") written if so. A schedule with no tone that sounds
// plays once, and no pass follows the stop time.
bool another_pass();
// Whether another pass will follow this one, as another_pass() will tell.
bool another_pass_follows();
// The sound frames of the passes still to follow, so that a fade-out
// (--smooth) ends with the last of them; beyond any fade with --loop alone.
int64_t frames_of_passes_to_come();
// The pass that plays, from 1, and how many the run plays: 0 for an endless
// --loop.
unsigned long long pass_playing();
unsigned long long passes_of_run();
// The sound frames of all the passes of an export; the most a count holds
// where it would not fit.
uint64_t frames_of_all_passes(uint64_t frames_of_one_pass);
