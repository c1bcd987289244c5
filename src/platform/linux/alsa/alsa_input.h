#pragma once

#include <memory>

#include "platform/wave_audio.h"

// Opens an ALSA PCM for capture at 1000 frames/s, stereo S16_LE. A reader
// thread fills the started block while the caller does other work.
wave_error open_alsa_input(const char* device_name, std::unique_ptr<wave_input>& device, int answer_limit_ms);
