#pragma once

#include <memory>

#include "platform/wave_audio.h"

// ALSA's PCMs for playback and capture, by their ALSA names; "default"
// when none is named.
std::unique_ptr<wave_audio> make_alsa_wave_audio();
