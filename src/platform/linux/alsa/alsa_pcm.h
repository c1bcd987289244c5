#pragma once

#include <alsa/asoundlib.h>

#include <vector>

#include "platform/linux/alsa/alsa_failures.h"
#include "platform/wave_audio.h"

// What a PCM is opened with. The ring and its period are asked for "near"
// these times; the device may round them.
struct alsa_pcm_shape {
    unsigned channels = 2;
    unsigned rate = 44100;
    unsigned ring_us = 0;
    unsigned period_us = 0;
    // Frames in the ring at which playback starts by itself; capture is
    // always started explicitly.
    snd_pcm_uframes_t start_frames = 1;
};

// True when the named PCM accepts interleaved S16_LE at 44100 frames/s with
// the given channel count.
bool alsa_device_accepts(const char* device_name, alsa_direction direction, unsigned channels);

// alsa-lib prints its own diagnostics to stderr; the program reports device
// failures itself, so those are switched off.
void silence_alsa_errors();
// Makes the next open read ALSA's configuration afresh. It is read once per
// process, and its hooks choose what "default" is by whether a sound server
// runs at that moment: a run started before the server never finds it
// otherwise. Only while none of the program's devices is open.
void reread_alsa_configuration();

// Opens the named PCM non-blocking in interleaved S16_LE with the given
// shape. 0 and the handle, or a failure code naming the step that failed.
wave_error open_alsa_pcm(const char* device_name, alsa_direction direction, const alsa_pcm_shape& shape,
                         snd_pcm_t*& pcm);

// The PCMs that ALSA's name hints list, as aplay -L and arecord -L list
// them, with default_output and default_input marked. Opens none of them.
std::vector<wave_device_entry> list_alsa_pcms(const char* default_output, const char* default_input);
