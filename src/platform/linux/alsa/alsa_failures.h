#pragma once

#include <chrono>
#include <string>

#include "platform/wave_audio.h"

enum class alsa_direction { playback, capture };

// What the back end was doing when ALSA failed.
enum class alsa_step {
    library = 0,  // a bare ALSA code, with no step recorded
    open,
    configure,
    play,
    record,
    stop,
    find,  // opening: the name is not one of ALSA's devices
};

// How long any call into the sound library may take before the device is
// given up as not answering: a stopped or hung sound server never returns
// from some of them.
inline constexpr std::chrono::milliseconds device_answer_deadline{device_answer_limit_ms};
// How long a stream that has just started may go without playing: a sink
// that was asleep (Bluetooth, HDMI) takes seconds to start, and through a
// sound server it looks just like one that stopped answering.
inline constexpr std::chrono::milliseconds device_start_deadline{device_start_limit_ms};
inline constexpr std::chrono::milliseconds device_stall_deadline{device_stall_limit_ms};

// A failure code that remembers the direction and the step beside ALSA's own
// code (a negative errno, or one of ALSA's). -ETIMEDOUT means the device did
// not answer within device_answer_deadline, -ETIME that a stream did not
// play within device_start_deadline of its start, -EALREADY that an open was
// refused because an earlier one that did not answer has still not returned.
wave_error alsa_failure(alsa_direction direction, alsa_step step, int alsa_code);

// What went wrong, what was tried and what to check, in words for the user.
std::string alsa_failure_text(wave_error code, const std::string& output_name, const std::string& input_name);
