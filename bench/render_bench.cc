// Sample rendering: one second of stereo frames, steady and pulsed, and a
// whole hour of one tone, rendered alone and played on the simulated device.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/run.h"
#include "engine/sound/render.h"
#include "engine/sound/wavetables.h"
#include "platform/sim/sim_platform.h"
#include "process/settings.h"

namespace {

constexpr int seconds_per_hour = 3600;

// Default settings: sine, both volumes 0.5, no phase shift, silent left.
void use_default_tables() {
    settings = run_settings{};
    tables_built = false;
    build_wavetables();
}

void render_seconds(benchmark::State& state, int pulse_frequency) {
    use_default_tables();
    std::vector<int16_t> buffer(2 * sample_rate);
    render_state render = render_start(440.0, pulse_frequency);
    for (auto _ : state) {
        render_buffer(render, buffer.data());
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * sample_rate);
    state.SetBytesProcessed(state.iterations() * sample_rate * 4);
}

void render_buffer_sine(benchmark::State& state) {
    render_seconds(state, 0);
}
BENCHMARK(render_buffer_sine)->Unit(benchmark::kMicrosecond);

// 10 pulses a second: the gate flips every 2205 frames.
void render_buffer_pulsed(benchmark::State& state) {
    render_seconds(state, 10);
}
BENCHMARK(render_buffer_pulsed)->Unit(benchmark::kMicrosecond);

// One hour of a 440 Hz sine, each second written to /dev/null as sox writes
// its output, so the two do the same work.
void render_hour(benchmark::State& state) {
    use_default_tables();
    FILE* sink = fopen("/dev/null", "wb");
    if (sink == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    std::vector<int16_t> buffer(2 * sample_rate);
    for (auto _ : state) {
        render_state render = render_start(440.0, 0);
        for (int second = 0; second < seconds_per_hour; ++second) {
            render_buffer(render, buffer.data());
            fwrite(buffer.data(), sizeof buffer[0], buffer.size(), sink);
        }
        benchmark::DoNotOptimize(render);
    }
    fclose(sink);
    state.SetItemsProcessed(state.iterations() * int64_t{seconds_per_hour} * sample_rate);
}
BENCHMARK(render_hour)->Unit(benchmark::kMillisecond);

// The whole program playing "440,1h" on the simulated platform: option
// parsing, the schedule, the playback driver's polling loop and the device.
void run_hour_simulated(benchmark::State& state) {
    FILE* sink = fopen("/dev/null", "w");
    if (sink == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    char name[] = "tonquel";
    char pair[] = "440,1h";
    char* argv[] = {name, pair, nullptr};
    for (auto _ : state) {
        sim_platform sim;
        sim.audio.record_samples = false;
        int status = run_tonquel(2, argv, sim.services(), sink, sink);
        if (status != 0 || sim.audio.outputs.empty() ||
            sim.audio.outputs[0].frames_played < uint64_t{seconds_per_hour} * sample_rate) {
            state.SkipWithError("the hour did not play");
            break;
        }
    }
    fclose(sink);
}
BENCHMARK(run_hour_simulated)->Unit(benchmark::kMillisecond);

}  // namespace
