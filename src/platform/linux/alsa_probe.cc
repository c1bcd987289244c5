#include "platform/linux/alsa_probe.h"

#include <alsa/asoundlib.h>

namespace {

void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

bool alsa_device_accepts(const char* device_name, alsa_direction direction, unsigned channels) {
    snd_pcm_t* pcm = nullptr;
    const snd_pcm_stream_t stream =
        direction == alsa_direction::playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
    if (snd_pcm_open(&pcm, device_name, stream, SND_PCM_NONBLOCK) < 0) {
        return false;
    }
    snd_pcm_hw_params_t* params = nullptr;
    bool accepted = false;
    if (snd_pcm_hw_params_malloc(&params) == 0) {
        // Each setting narrows the space, so the rate test sees the others.
        accepted = snd_pcm_hw_params_any(pcm, params) >= 0 &&
                   snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
                   snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE) == 0 &&
                   snd_pcm_hw_params_set_channels(pcm, params, channels) == 0 &&
                   snd_pcm_hw_params_test_rate(pcm, params, 44100, 0) == 0;
        snd_pcm_hw_params_free(params);
    }
    snd_pcm_close(pcm);
    return accepted;
}

void silence_alsa_errors() {
    snd_lib_error_set_handler(ignore_alsa_error);
}

std::string alsa_error_text(wave_error code) {
    if (code == 0) {
        return "no error";
    }
    if (code < 0) {
        return snd_strerror(code);
    }
    return "unknown audio error " + std::to_string(code);
}

wave_error open_alsa_pcm(const char* device_name, alsa_direction direction, unsigned channels, unsigned rate,
                         unsigned latency_us, snd_pcm_t*& pcm) {
    snd_pcm_stream_t stream =
        direction == alsa_direction::playback ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE;
    int error = snd_pcm_open(&pcm, device_name, stream, SND_PCM_NONBLOCK);
    if (error < 0) return error;
    error = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate, 1,
                               latency_us);
    if (error < 0) {
        snd_pcm_close(pcm);
        pcm = nullptr;
    }
    return error < 0 ? error : 0;
}
