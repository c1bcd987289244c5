// The simulated wave-audio service under the contract that the engine's
// whole-run tests rely on it to keep, as the real back ends do.

#include "platform/sim/sim_platform.h"
#include "platform/wave_audio_contract_test_support.h"

namespace {

struct sim_harness final : wave_audio_harness {
    sim_platform sim;
    wave_audio& audio() override { return sim.audio; }
    void pass(int ms) override { sim.advance(ms); }
    int64_t now_ms() override { return sim.now_ms(); }
    bool kill_server() override {
        sim.audio.outage = {sim.now_ms(), -1, 5};
        return true;
    }
    bool freeze_opens() override {
        sim.audio.open_hangs = {sim.now_ms(), -1, 0};
        return true;
    }
    bool freeze_playing() override {
        sim.audio.frozen = {sim.now_ms(), -1, 0};
        return true;
    }
    void thaw() override { sim.audio.open_hangs.until_ms = sim.audio.frozen.until_ms = sim.now_ms(); }
};

const register_wave_audio_harness simulated{
    {"simulated", [](std::string&) -> std::unique_ptr<wave_audio_harness> { return std::make_unique<sim_harness>(); }}};

}  // namespace
