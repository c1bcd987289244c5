#include "platform/linux/alsa/alsa_failures.h"

#include <alsa/asoundlib.h>

#include <cerrno>

namespace {

// code = -(tag * step_unit + |alsa_code|), tag = step * 2 + direction.
// ALSA's own codes stay below step_unit (they reach about 500000).
constexpr int step_unit = 1000000;
constexpr int steps = 7;

struct decoded {
    alsa_direction direction = alsa_direction::playback;
    alsa_step step = alsa_step::library;
    int alsa_code = 0;
};

decoded decode(wave_error code) {
    const int magnitude = -code;
    const int tag = magnitude / step_unit;
    return {tag % 2 == 0 ? alsa_direction::playback : alsa_direction::capture, static_cast<alsa_step>(tag / 2),
            -(magnitude % step_unit)};
}

bool means_nothing_answered(int alsa_code) {
    switch (-alsa_code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ECONNREFUSED:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ECONNRESET:
    case EPIPE:
    case EIO:
        return true;
    default:
        return false;
    }
}

const char* doing(alsa_step step) {
    switch (step) {
    case alsa_step::open:
    case alsa_step::find:
    case alsa_step::configure:
        return "while it was being opened";
    case alsa_step::play:
        return "while it was playing";
    case alsa_step::record:
        return "while it was recording";
    case alsa_step::stop:
        return "while it was being stopped";
    case alsa_step::library:
        break;
    }
    return "";
}

}  // namespace

wave_error alsa_failure(alsa_direction direction, alsa_step step, int alsa_code) {
    if (alsa_code >= 0) return alsa_code;
    const int magnitude = -alsa_code < step_unit ? -alsa_code : EIO;
    const int tag = static_cast<int>(step) * 2 + (direction == alsa_direction::capture ? 1 : 0);
    return -(tag * step_unit + magnitude);
}

std::string alsa_failure_text(wave_error code, const std::string& output_name, const std::string& input_name) {
    if (code == 0) return "no error";
    if (code > 0 || code <= -steps * 2 * step_unit) return "unknown audio error " + std::to_string(code);
    const decoded failure = decode(code);
    const std::string reason = snd_strerror(failure.alsa_code);
    if (failure.step == alsa_step::library) return reason;

    const bool playback = failure.direction == alsa_direction::playback;
    const std::string& name = playback ? output_name : input_name;
    const std::string device = "ALSA's \"" + name + "\" device for " + (playback ? "playback" : "recording");
    const std::string list_check = "the name against the list that --list-devices prints";
    // A device the user named may be the wrong one, or one on a card that
    // is not there.
    const std::string check = "; check that the sound server (PulseAudio or PipeWire) is running, or that a sound card "
                              "is present" +
                              (name == "default" ? "" : ", and " + list_check);
    if (failure.alsa_code == -ETIME) {
        return device + " did not play within " + std::to_string(device_start_deadline.count() / 1000) +
               " seconds of starting; the sound server may be stopped or hung, or the sound device asleep";
    }
    if (failure.alsa_code == -EALREADY) {
        return device + " did not answer within " + std::to_string(device_answer_deadline.count() / 1000) +
               " seconds, and the sound library has not yet returned from that call; the sound server may be "
               "stopped or hung";
    }
    if (failure.alsa_code == -ETIMEDOUT) {
        return device + " did not answer within " + std::to_string(device_answer_deadline.count() / 1000) +
               " seconds " + doing(failure.step) + "; the sound server may be stopped or hung";
    }
    // ALSA's configuration defines "default" only while a sound server or a
    // card is there to give it: its absence means nothing to play on.
    const alsa_step step = failure.step == alsa_step::find && name == "default" ? alsa_step::open : failure.step;
    switch (step) {
    case alsa_step::open:
        if (means_nothing_answered(failure.alsa_code))
            return device + " found no sound server or sound card (" + reason + ")" + check;
        return device + " could not be opened (" + reason + ")" + check;
    case alsa_step::find:
        return device + " does not exist (" + reason + "); check " + list_check;
    case alsa_step::configure:
        return device + " does not take 16-bit stereo at the rate asked for (" + reason + ")";
    case alsa_step::play:
    case alsa_step::record:
    case alsa_step::stop:
        return device + " failed " + doing(failure.step) + " (" + reason +
               "); the sound server or the card may have gone away";
    case alsa_step::library:
        break;
    }
    return reason;
}
