#pragma once

// One suite checks what the engine relies on from a wave-audio back end
// (platform/wave_audio.h) against each implementation: the simulated one,
// and the system's own through a real sound server. Each implementation
// registers a harness that makes its service and brings its faults about.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/wave_audio.h"

struct wave_audio_harness {
    virtual ~wave_audio_harness() = default;
    virtual wave_audio& audio() = 0;
    // Lets time pass: the simulated clock's, or real time.
    virtual void pass(int ms) = 0;
    virtual int64_t now_ms() = 0;
    // The faults it can bring about here; false where it cannot.
    // The sound server goes away for good.
    virtual bool kill_server() { return false; }
    // The output device named frozen_output() stops answering opens, or
    // takes blocks and plays none, until thaw().
    virtual const char* frozen_output() { return nullptr; }
    virtual bool freeze_opens() { return false; }
    virtual bool freeze_playing() { return false; }
    virtual void thaw() {}
    // The process's threads; -1 where the harness cannot count them.
    virtual int threads() { return -1; }
};

struct wave_audio_harness_maker {
    std::string name;
    // nullptr, with the reason, where the implementation cannot be tried
    // here (no sound server to try it through).
    std::function<std::unique_ptr<wave_audio_harness>(std::string& why_not)> make;
};

inline std::vector<wave_audio_harness_maker>& wave_audio_harness_makers() {
    static std::vector<wave_audio_harness_maker> makers;
    return makers;
}

// A namespace-scope object in the implementation's test registers it.
struct register_wave_audio_harness {
    explicit register_wave_audio_harness(wave_audio_harness_maker maker) {
        wave_audio_harness_makers().push_back(std::move(maker));
    }
};
