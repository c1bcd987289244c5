#pragma once

#include <cstdint>

inline constexpr int sample_rate = 44100;
inline constexpr int32_t phase_max = 0xFFFFF;

struct channel_pair {
    double right;
    double left;
};

struct render_state {
    int32_t right_phase;
    int32_t left_phase;
    int32_t right_step;
    int32_t left_step;
    int32_t half_period;
};

channel_pair channel_frequencies(double frequency);
// hz * 2^20 / 44100, rounded; for 0 <= hz < 44100.
int32_t phase_step(double hz);
render_state render_start(double frequency, int pulse_frequency);
// Fills one second: sample_rate interleaved stereo frames.
void render_buffer(render_state& state, int16_t* buffer);
