#pragma once

#include <memory>
#include <string>

#include "platform/wave_audio.h"

// Which ALSA PCMs the wave-audio service opens when none is named. The
// program uses "default"; tests point it at ALSA's null and file plugins.
struct alsa_device_names {
    std::string output = "default";
    std::string input = "default";
};

std::unique_ptr<wave_audio> make_alsa_wave_audio_on(const alsa_device_names& names);
