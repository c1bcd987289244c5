#pragma once

#include <cstdint>
#include <string>

// The line at the bottom of the terminal that tells where the run is: the
// tone's status while it plays, the progress bar while an export runs.

// What the status line tells about the playing tone.
struct status_fields {
    std::string frequency;  // as the tone's progress line prints it
    double frequency_hz = 0;
    int64_t elapsed_seconds = 0;
    int64_t total_seconds = 0;
    uint32_t tone_number = 0;  // among the tone entries, from 1
    uint32_t tone_count = 0;
    // This tone's rest, every later tone and the passes still to come
    // (--loop), up to --until; -1 for an endless loop without one.
    int64_t schedule_left_seconds = 0;
    bool paused = false;
    // While the sound device is away: "no sound device 0:05 of 1:00".
    std::string waiting;
};

// m:ss, or h:mm:ss from an hour on.
std::string clock_text(int64_t seconds);
// The status line for a terminal of width columns. It stays below the last
// column, so that it never wraps; what does not fit is left out, the keys
// first and the frequency last.
std::string status_line_text(const status_fields& fields, int width);
// "export  [####------]  42%  0:03 left", fitted the same way. seconds_left
// is below 0 while not yet known.
std::string progress_bar_text(uint64_t done, uint64_t total, int64_t seconds_left, int width);

// Playback tells the status line about the entry it starts, and about the
// pulsed tail that follows the steady part of a split entry.
void status_line_entry(double frequency, int duration);
void status_line_tail(int seconds_before);
// A poll step after slept_ms of sleep, part_elapsed seconds into the part
// that plays. Redraws at most four times a second.
void status_line_step(int slept_ms, int64_t part_elapsed, bool paused);
// The same while the sound device is away: waited seconds of at most limit.
void status_line_waiting(int slept_ms, int64_t part_elapsed, int64_t waited, int64_t limit);
// What the line tells now, part_elapsed seconds into the part that plays,
// drawn or not: the control channel's status tells the same.
status_fields status_line_fields(int64_t part_elapsed);
// While the run waits to start (--at): "starts 23:00:00, in 1:23:45".
void status_line_countdown(int slept_ms, const std::string& text);
void reset_status_line();
