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
// Starts recording for a tone of seconds (>= 1), at most 10 s of it.
void capture_start(int seconds);
// Stops the recording and writes its frames, tagged with the frequency: the
// block is in the file when the call returns.
void capture_dump(double frequency);
void reset_capture_state();
