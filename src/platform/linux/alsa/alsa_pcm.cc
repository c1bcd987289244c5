#include "platform/linux/alsa/alsa_pcm.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

snd_pcm_stream_t stream_of(alsa_direction direction) {
    return direction == alsa_direction::playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
}

// Each setting narrows the space, so later ones see the earlier ones.
int set_hardware(snd_pcm_t* pcm, const alsa_pcm_shape& shape) {
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    int error = snd_pcm_hw_params_any(pcm, params);
    if (error >= 0) error = snd_pcm_hw_params_set_rate_resample(pcm, params, 1);
    if (error >= 0) error = snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (error >= 0) error = snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE);
    if (error >= 0) error = snd_pcm_hw_params_set_channels(pcm, params, shape.channels);
    if (error >= 0) error = snd_pcm_hw_params_set_rate(pcm, params, shape.rate, 0);
    unsigned ring_us = shape.ring_us;
    unsigned period_us = shape.period_us;
    int direction = 0;
    if (error >= 0) error = snd_pcm_hw_params_set_buffer_time_near(pcm, params, &ring_us, &direction);
    if (error >= 0) error = snd_pcm_hw_params_set_period_time_near(pcm, params, &period_us, &direction);
    if (error >= 0) error = snd_pcm_hw_params(pcm, params);
    return error;
}

int set_software(snd_pcm_t* pcm, const alsa_pcm_shape& shape) {
    snd_pcm_uframes_t ring = 0;
    snd_pcm_uframes_t period = 0;
    int error = snd_pcm_get_params(pcm, &ring, &period);
    if (error < 0) return error;
    snd_pcm_sw_params_t* params = nullptr;
    snd_pcm_sw_params_alloca(&params);
    error = snd_pcm_sw_params_current(pcm, params);
    // The feeder is woken by the device only when it waits for room, a
    // period at a time; the reader whenever a period has been recorded.
    if (error >= 0) error = snd_pcm_sw_params_set_avail_min(pcm, params, period);
    snd_pcm_uframes_t start = shape.start_frames < ring ? shape.start_frames : ring;
    if (error >= 0) error = snd_pcm_sw_params_set_start_threshold(pcm, params, start);
    if (error >= 0) error = snd_pcm_sw_params(pcm, params);
    return error;
}

// False only when ALSA's configuration certainly has no PCM of that name
// (before any ":" and its arguments).
bool alsa_name_defined(const char* device_name) {
    snd_config_t* top = nullptr;
    if (snd_config_update_ref(&top) < 0) return true;
    snd_config_t* definition = nullptr;
    const int error = snd_config_search_definition(top, "pcm", device_name, &definition);
    if (error >= 0) snd_config_delete(definition);
    snd_config_unref(top);
    return error != -ENOENT;
}

// A hint's field, freed here; "" when the hint has none.
std::string hint_field(const void* hint, const char* field) {
    char* value = snd_device_name_get_hint(hint, field);
    if (value == nullptr) return {};
    std::string text = value;
    std::free(value);
    return text;
}

// The hints write descriptions on two lines (the card, then the device).
std::string one_line(std::string text) {
    for (std::string::size_type at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
        text.replace(at, 1, ", ");
    return text;
}

}  // namespace

std::vector<wave_device_entry> list_alsa_pcms(const char* default_output, const char* default_input) {
    std::vector<wave_device_entry> outputs;
    std::vector<wave_device_entry> inputs;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) hints = nullptr;
    for (void** hint = hints; hint != nullptr && *hint != nullptr; ++hint) {
        const std::string name = hint_field(*hint, "NAME");
        if (name.empty()) continue;
        const std::string description = one_line(hint_field(*hint, "DESC"));
        // No IOID: both directions.
        const std::string io = hint_field(*hint, "IOID");
        if (io != "Input")
            outputs.push_back({wave_direction::output, name, description, name == default_output});
        if (io != "Output") inputs.push_back({wave_direction::input, name, description, name == default_input});
    }
    if (hints != nullptr) snd_device_name_free_hint(hints);
    // The device used when none is named is listed even where the
    // configuration gives it no hint (as Debian's does not).
    const auto add_default = [](std::vector<wave_device_entry>& devices, wave_direction direction, const char* name) {
        for (const wave_device_entry& device : devices)
            if (device.is_default) return;
        devices.insert(devices.begin(), {direction, name, "ALSA's default device", true});
    };
    add_default(outputs, wave_direction::output, default_output);
    add_default(inputs, wave_direction::input, default_input);
    outputs.insert(outputs.end(), inputs.begin(), inputs.end());
    return outputs;
}

bool alsa_device_accepts(const char* device_name, alsa_direction direction, unsigned channels) {
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, device_name, stream_of(direction), SND_PCM_NONBLOCK) < 0) {
        return false;
    }
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    const bool accepted = snd_pcm_hw_params_any(pcm, params) >= 0 &&
                          snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
                          snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE) == 0 &&
                          snd_pcm_hw_params_set_channels(pcm, params, channels) == 0 &&
                          snd_pcm_hw_params_test_rate(pcm, params, 44100, 0) == 0;
    snd_pcm_close(pcm);
    return accepted;
}

void reread_alsa_configuration() {
    snd_config_update_free_global();
}

void silence_alsa_errors() {
    snd_lib_error_set_handler(ignore_alsa_error);
}

wave_error open_alsa_pcm(const char* device_name, alsa_direction direction, const alsa_pcm_shape& shape,
                         snd_pcm_t*& pcm) {
    pcm = nullptr;
    int error = snd_pcm_open(&pcm, device_name, stream_of(direction), SND_PCM_NONBLOCK);
    if (error < 0) {
        pcm = nullptr;
        const bool unknown = error == -ENOENT && !alsa_name_defined(device_name);
        return alsa_failure(direction, unknown ? alsa_step::find : alsa_step::open, error);
    }
    error = set_hardware(pcm, shape);
    if (error >= 0) error = set_software(pcm, shape);
    if (error < 0) {
        snd_pcm_close(pcm);
        pcm = nullptr;
        return alsa_failure(direction, alsa_step::configure, error);
    }
    return 0;
}
