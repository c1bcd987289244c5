#pragma once

#include <cstdint>

#include "platform/wave_audio.h"

// -m with --smooth: one input stream for the whole run, recording on and on
// round a ring. Each tone's MOR block is the input from the tone's first
// frame to its last (a 3 s tone gives 3000 lines; at most 10000), taken in
// as the input arrives and written, in tone order, once it is all in.

// Opens the input device and starts it: 0, or the device's failure.
wave_error stream_capture_open(int answer_limit_ms);
bool stream_capture_open_now();
// The output's frame that plays now is output_frame: what the input
// records now lines up with it.
void stream_capture_line_up(uint64_t output_frame);
// A tone sounds from output frame first to frame end (one past its last).
void stream_capture_tone_begins(double frequency, uint64_t first_frame);
void stream_capture_tone_ends(uint64_t end_frame);
// Takes in what the input recorded and writes the blocks that are whole.
void stream_capture_step();
// The input failed on its own: 0 while it works.
wave_error stream_capture_failure();
// The input is closed (it failed): the blocks keep what they have.
void stream_capture_lose_input();
// At the run's end: waits a moment for the input to catch up with the last
// tone, then writes every block. A run that was quit or interrupted leaves
// the tone that was playing out, as every run does.
void stream_capture_finish(bool interrupted);
void reset_stream_capture();
