#pragma once

#include <cstdint>

// --until: the run stops when the local clock next shows the time asked for
// after the first tone starts, or after --at where the window between them
// closes. The playing tone ends there as a skipped one does, its capture
// written, and nothing later plays; the run then ends as at the end of the
// schedule.

// Starts watching for settings.stop_at, if set.
void arm_stop_time();
// True once the time has come, which it says once in the record. Asked
// wherever the run waits, and before each entry and each pass. A tone that
// this stops is where a ramp-out (--smooth) would begin.
bool stop_time_has_come();
// The stream fell silent at the stop second's own frame (a calendar second)
// before a look at the clock saw that second come: the record says so as
// that look would have.
void stop_time_reached(int64_t stop_second);
// With --at: the clock-face seconds from --at to --until, a whole day when
// they are the same; -1 without either.
int64_t stop_window_seconds();
// --at came at the clock-face second face_second (civil_time.h): the run
// stops where the window closes, wherever the clock goes meanwhile.
void stop_window_opened(int64_t face_second);
// The real seconds until the time, as of the last look (once a second): 0
// once come; before it is armed, the window with --at, else -1.
int64_t stop_time_seconds_left();
// The calendar second it comes at, by that look; -1 when not armed.
int64_t stop_time_calendar_second();
