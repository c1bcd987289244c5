#pragma once

#include <memory>

#include "platform/wave_audio.h"

// WinMM's devices for playback and capture, opened without callbacks and
// polled through the headers' done flags: the wave mapper when none is
// named, else the device chosen by number or by the beginning of its name.
std::unique_ptr<wave_audio> make_winmm_wave_audio();
