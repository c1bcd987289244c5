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
// Starts recording for a tone of seconds (>= 1), at most 10 s of it, in two
// steps: readies the buffer, then opens the device and records into the rest
// of the buffer (0, or the device's error), unless the buffer is full
// already.
void capture_begin(int seconds);
wave_error capture_open(int answer_limit_ms);
// Keeps what was recorded so far and closes the device: a gap in the sound.
void capture_suspend();
// A failure the open input device met on its own; 0 while it works.
wave_error capture_failure();
// Stops the recording, writes its frames, tagged with the frequency, and
// closes the device: the block is in the file when the call returns. A tone
// that ran its whole length first waits a moment for the input still on its
// way, so that its block holds every frame of its seconds. Returns the
// failure the device met on its own, which its stop may reveal.
wave_error capture_dump(double frequency, bool tone_ran_its_length);
// Writes the frames recorded so far as the tone's block.
void write_capture_block(double frequency);
// Writes frames (two samples each) as a tone's block, numbered from 0.
void write_mor_block(double frequency, const int16_t* samples, uint32_t frames);
void reset_capture_state();
