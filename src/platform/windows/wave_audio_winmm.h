#pragma once

#include <memory>

#include "platform/wave_audio.h"

// WinMM's wave mapper (the default devices) for playback and capture, opened
// without callbacks and polled through the headers' done flags.
std::unique_ptr<wave_audio> make_winmm_wave_audio();
