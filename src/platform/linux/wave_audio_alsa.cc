#include "platform/linux/wave_audio_alsa.h"

#include "platform/linux/alsa_device_names.h"
#include "platform/linux/alsa_input.h"
#include "platform/linux/alsa_output.h"
#include "platform/linux/alsa_probe.h"

#include <utility>

namespace {

struct alsa_wave_audio final : wave_audio {
    explicit alsa_wave_audio(alsa_device_names names) : names_(std::move(names)) {
        silence_alsa_errors();
    }

    wave_probe_result probe() override {
        wave_probe_result result;
        result.output_ok = alsa_device_accepts(names_.output.c_str(), alsa_direction::playback, 2);
        result.input_ok = alsa_device_accepts(names_.input.c_str(), alsa_direction::capture, 1);
        return result;
    }

    wave_error open_output(std::unique_ptr<wave_output>& device) override {
        return open_alsa_output(names_.output.c_str(), device);
    }

    wave_error open_input(std::unique_ptr<wave_input>& device) override {
        return open_alsa_input(names_.input.c_str(), device);
    }

    std::string error_text(wave_error code) override { return alsa_error_text(code); }

private:
    alsa_device_names names_;
};

}  // namespace

std::unique_ptr<wave_audio> make_alsa_wave_audio_on(const alsa_device_names& names) {
    return std::make_unique<alsa_wave_audio>(names);
}

std::unique_ptr<wave_audio> make_alsa_wave_audio() {
    return make_alsa_wave_audio_on(alsa_device_names{});
}
