#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "log/record_file.h"
#include "platform/wave_audio.h"

inline constexpr int capture_rate = 1000;
inline constexpr int capture_seconds_max = 10;

extern const char* mor_path;
// How the writes to the MOR file have fared.
extern record_state mor_record;
extern int16_t* capture_buffer;
extern uint32_t capture_buffer_size;  // bytes

// -m: replaces the file and allocates the capture buffer, or ends the run.
void open_mor_file(const char* path);
// Starts recording for a tone of seconds (>= 1), at most 10 s of it, or
// ends the run.
void capture_start(int seconds);
// capture_start in two steps: readies the buffer, then opens the device and
// records into the rest of the buffer (0, or the device's error).
void capture_begin(int seconds);
wave_error capture_open();
// Keeps what was recorded so far and closes the device: a gap in the sound.
void capture_suspend();
// A failure the open input device met on its own; 0 while it works.
wave_error capture_failure();
// Reports a failed input device and ends the run.
[[noreturn]] void wave_in_failure(wave_error code);
// Stops the recording and writes its frames, tagged with the frequency: the
// block is in the file when the call returns.
void capture_dump(double frequency);
void reset_capture_state();
