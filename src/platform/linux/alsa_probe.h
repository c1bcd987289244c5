#pragma once

#include <alsa/asoundlib.h>

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

// Opens the named PCM non-blocking in interleaved S16_LE with the given
// channels, rate and ring latency. 0 and the handle, or an ALSA error code.
wave_error open_alsa_pcm(const char* device_name, alsa_direction direction, unsigned channels, unsigned rate,
                         unsigned latency_us, snd_pcm_t*& pcm);
