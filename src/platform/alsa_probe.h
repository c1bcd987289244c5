#pragma once

#include <string>

#include "platform/wave_audio.h"

enum class alsa_direction { playback, capture };

// True when the named PCM accepts interleaved S16_LE at 44100 frames/s with
// the given channel count. Opens non-blocking, so a stuck server cannot hang
// the start-up probe.
bool alsa_device_accepts(const char* device_name, alsa_direction direction, unsigned channels);

// alsa-lib prints its own diagnostics to stderr; the program reports device
// failures itself, so those are switched off.
void silence_alsa_errors();

std::string alsa_error_text(wave_error code);
