#pragma once

#include <memory>

#include "platform/wave_audio.h"

// Opens an ALSA PCM for playback at 44100 frames/s, stereo S16_LE. A feeder
// thread moves queued blocks into ALSA's ring buffer, so the device keeps
// playing while the caller sleeps or is busy elsewhere.
wave_error open_alsa_output(const char* device_name, std::unique_ptr<wave_output>& device, int answer_limit_ms,
                            int queue_ms);
