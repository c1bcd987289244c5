#pragma once

#include <memory>

#include "platform/wave_audio.h"

// ALSA's "default" PCM for playback and capture.
std::unique_ptr<wave_audio> make_alsa_wave_audio();
