#include "engine/sound/render.h"

#include <cmath>

#include "engine/sound/wavetables.h"
#include "process/settings.h"

namespace {

// Steps for channel frequencies outside 0 to just under 44100 Hz, which
// offsets, keys and -l can produce: a negative frequency sounds as its
// magnitude, a frequency at or above the frame rate as the alias that
// sampling it would give, and one that is not a finite number as silence
// at the table's first entry. Every step ends within 0 to phase_max, so the
// phase never leaves the table.
int32_t channel_step(double hz) {
    hz = std::fabs(hz);
    if (hz < sample_rate) {
        // From 44099.98 Hz the rounding gives phase_max + 1, more than one
        // wrap per frame can take back. One less phase_max walks the very
        // same phases: a step counts only modulo phase_max.
        const int32_t step = phase_step(hz);
        return step > phase_max ? step - phase_max : step;
    }
    if (!std::isfinite(hz)) return 0;  // NaN fails every comparison, so it comes here too
    // hz x 2^20 / 44100 overflows for the largest doubles, so the cycles per
    // frame are reduced first; scaling by 2^20 is exact and keeps the
    // remainder. Both remainders lie below phase_max.
    const double cycles = std::fmod(hz / sample_rate, static_cast<double>(phase_max));
    return static_cast<int32_t>(std::fmod(cycles * 1048576.0 + 0.5, static_cast<double>(phase_max)));
}

}  // namespace

channel_pair channel_frequencies(double frequency) {
    if (settings.octave_shift) {
        if (frequency < 20.0) return {frequency * 64.0, 1000.0};
        if (frequency > 20000.0) return {frequency / 4.0, 18000.0};
        return {frequency, 0.0};
    }
    if (settings.left_frequency < 0.0) return {frequency, frequency};
    if (settings.left_frequency > 0.0) return {frequency, settings.left_frequency};
    return {frequency, 0.0};
}

int32_t phase_step(double hz) {
    return static_cast<int32_t>(((((10.0 * hz) * 256.0) * 4096.0) / 44100.0 + 5.0) / 10.0);
}

render_state render_start(double frequency, int pulse_frequency) {
    channel_pair channels = channel_frequencies(frequency);
    render_state state{};
    state.right_step = channel_step(channels.right);
    state.left_step = channel_step(channels.left);
    state.half_period = pulse_frequency >= 1 ? sample_rate / (2 * pulse_frequency) : sample_rate;
    return state;
}

void render_buffer(render_state& state, int16_t* buffer) {
    bool gate_on = true;
    int32_t gate_edge = 0;
    int32_t right_phase = state.right_phase;
    int32_t left_phase = state.left_phase;
    for (int32_t j = 0; j < sample_rate; ++j) {
        if (j >= gate_edge + state.half_period) {
            gate_on = !gate_on;
            gate_edge += state.half_period;
        }
        if (gate_on) {
            buffer[2 * j] = left_table[left_phase >> 8];
            buffer[2 * j + 1] = right_table[right_phase >> 8];
        } else {
            buffer[2 * j] = 0;
            buffer[2 * j + 1] = 0;
        }
        right_phase += state.right_step;
        if (right_phase > phase_max) right_phase -= phase_max;
        left_phase += state.left_step;
        if (left_phase > phase_max) left_phase -= phase_max;
    }
    state.right_phase = right_phase;
    state.left_phase = left_phase;
}
