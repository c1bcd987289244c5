#include "engine/sound/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/sound/wavetables.h"
#include "process/settings.h"

namespace {

constexpr int frames = sample_rate;

// Tables whose entries name their own index (plus one, so that a gated-off
// frame, 0, tells apart from entry 0): a rendered sample then shows the
// phase index it was read at.
void fill_index_tables() {
    for (int i = 0; i < table_size; ++i) {
        right_table[i] = static_cast<int16_t>(i + 1);
        left_table[i] = static_cast<int16_t>(-(i + 1));
    }
    tables_built = true;
}

// The phase index of every frame of the first buffers of a channel with
// the given step: the wrap takes off phase_max, not 2^20.
std::vector<int> phase_indices(int32_t step, int count) {
    std::vector<int> indices;
    int32_t phase = 0;
    for (int j = 0; j < count; ++j) {
        indices.push_back(phase >> 8);
        phase += step;
        if (phase > 1048575) phase -= 1048575;
    }
    return indices;
}

class render_test : public ::testing::Test {
protected:
    void SetUp() override {
        settings = run_settings{};
        tables_built = false;
        fill_index_tables();
    }
    void TearDown() override {
        settings = run_settings{};
        tables_built = false;
    }

    std::vector<int16_t> buffer = std::vector<int16_t>(2 * frames);
    int16_t left(int j) const { return buffer[2 * j]; }
    int16_t right(int j) const { return buffer[2 * j + 1]; }
};

TEST(phase_step, worked_values) {
    const struct {
        double hz;
        int32_t step;
    } cases[] = {{0, 0},           {1, 24},         {20, 476},         {440, 10462},
                 {500, 11889},     {1000, 23777},   {18000, 427990},   {20000, 475545}};
    for (const auto& c : cases) EXPECT_EQ(phase_step(c.hz), c.step) << c.hz << " Hz";
}

TEST(render_start, half_period_of_the_pulse_gate) {
    const struct {
        int pulse;
        int32_t half_period;
    } cases[] = {{1, 22050}, {2, 11025}, {3, 7350}, {4, 5512},  {10, 2205},
                 {11, 2004}, {100, 220}, {1000, 22}, {0, 44100}, {-3, 44100}};
    for (const auto& c : cases) EXPECT_EQ(render_start(440, c.pulse).half_period, c.half_period) << c.pulse;
}

TEST(channel_frequencies, every_mode) {
    const struct {
        const char* name;
        bool octave_shift;
        double left_frequency;
        double f;
        double right;
        double left;
    } cases[] = {
        {"-e below 20", true, 0, 10, 640, 1000},
        {"-e lowest admitted", true, 0, 0.3125, 20, 1000},
        {"-e at 20", true, 0, 20, 20, 0},
        {"-e at 20000", true, 0, 20000, 20000, 0},
        {"-e above 20000", true, 0, 20000.5, 5000.125, 18000},
        {"-l 500", false, 500, 1000, 1000, 500},
        {"-l=r", false, -1, 440, 440, 440},
        {"no left tone", false, 0, 440, 440, 0},
    };
    for (const auto& c : cases) {
        settings = run_settings{};
        settings.octave_shift = c.octave_shift;
        settings.left_frequency = c.left_frequency;
        channel_pair pair = channel_frequencies(c.f);
        EXPECT_EQ(pair.right, c.right) << c.name;
        EXPECT_EQ(pair.left, c.left) << c.name;
    }
    settings = run_settings{};
}

TEST_F(render_test, start_sets_steps_of_both_channels_and_zero_phases) {
    settings.left_frequency = 500;
    render_state state = render_start(1000, 0);
    EXPECT_EQ(state.right_phase, 0);
    EXPECT_EQ(state.left_phase, 0);
    EXPECT_EQ(state.right_step, 23777);
    EXPECT_EQ(state.left_step, 11889);

    settings.left_frequency = 0;
    EXPECT_EQ(render_start(1000, 0).left_step, 0);
    settings.octave_shift = true;
    state = render_start(10, 0);
    EXPECT_EQ(state.right_step, phase_step(640));
    EXPECT_EQ(state.left_step, 23777);
}

TEST_F(render_test, thousand_hertz_right_phase_wraps_by_phase_max) {
    render_state state = render_start(1000, 0);
    render_buffer(state, buffer.data());
    // 44 * 23777 = 1046188 at frame 44; the next step passes phase_max and
    // leaves 1069965 - 1048575 = 21390.
    EXPECT_EQ(right(44), (1046188 >> 8) + 1);
    EXPECT_EQ(right(45), (21390 >> 8) + 1);
    std::vector<int> expected = phase_indices(23777, 2 * frames);
    for (int j = 0; j < frames; ++j) ASSERT_EQ(right(j), expected[j] + 1) << "frame " << j;
    // No left tone: step 0, entry 0 throughout.
    for (int j = 0; j < frames; ++j) ASSERT_EQ(left(j), -1) << "frame " << j;

    EXPECT_EQ(state.right_phase, 1039275);
    EXPECT_EQ(state.left_phase, 0);
    render_buffer(state, buffer.data());
    EXPECT_EQ(right(0), 4059 + 1);
    for (int j = 0; j < frames; ++j) ASSERT_EQ(right(j), expected[frames + j] + 1) << "frame " << frames + j;
}

TEST_F(render_test, left_channel_follows_its_own_frequency) {
    settings.left_frequency = 500;
    render_state state = render_start(1000, 0);
    render_buffer(state, buffer.data());
    std::vector<int> expected = phase_indices(11889, frames);
    for (int j = 0; j < frames; ++j) ASSERT_EQ(left(j), -(expected[j] + 1)) << "frame " << j;
}

TEST_F(render_test, one_pulse_per_second_sounds_the_first_half_of_every_buffer) {
    render_state state = render_start(1000, 1);
    std::vector<int> expected = phase_indices(23777, 2 * frames);
    for (int pass = 0; pass < 2; ++pass) {
        render_buffer(state, buffer.data());
        for (int j = 0; j < 22050; ++j) {
            ASSERT_EQ(right(j), expected[pass * frames + j] + 1) << "pass " << pass << " frame " << j;
            ASSERT_EQ(left(j), -1) << "pass " << pass << " frame " << j;
        }
        for (int j = 22050; j < frames; ++j) {
            ASSERT_EQ(right(j), 0) << "pass " << pass << " frame " << j;
            ASSERT_EQ(left(j), 0) << "pass " << pass << " frame " << j;
        }
    }
}

TEST_F(render_test, eleven_pulses_run_the_short_last_segment_into_the_next_buffer) {
    render_state state = render_start(1000, 11);
    std::vector<int> expected = phase_indices(23777, 2 * frames);
    // Segment k covers frames k*2004 .. k*2004+2003; even k sound. The 23rd
    // segment (k = 22) holds only the last 12 frames of the second.
    auto sounds = [](int j) { return (j / 2004) % 2 == 0; };
    for (int pass = 0; pass < 2; ++pass) {
        render_buffer(state, buffer.data());
        for (int j = 0; j < frames; ++j) {
            int16_t want = sounds(j) ? static_cast<int16_t>(expected[pass * frames + j] + 1) : int16_t{0};
            ASSERT_EQ(right(j), want) << "pass " << pass << " frame " << j;
        }
    }
    // The tail of the second buffer and its neighbours, spelled out.
    EXPECT_NE(right(42083), 0);
    EXPECT_EQ(right(42084), 0);
    EXPECT_EQ(right(44087), 0);
    EXPECT_NE(right(44088), 0);
    EXPECT_NE(right(44099), 0);
}

TEST_F(render_test, phases_run_on_through_silent_frames) {
    // Ten pulses: frames 2205..4409 are silent, 4410.. sound again where the
    // wave would have been.
    render_state state = render_start(440, 10);
    render_buffer(state, buffer.data());
    std::vector<int> expected = phase_indices(10462, frames);
    EXPECT_EQ(right(4409), 0);
    EXPECT_EQ(right(4410), expected[4410] + 1);
    EXPECT_EQ(right(6614), expected[6614] + 1);
    EXPECT_EQ(right(6615), 0);
    EXPECT_EQ(right(44099), 0);  // segment 19 is silent
    // Phase after the buffer is the same as unpulsed.
    render_state steady = render_start(440, 0);
    std::vector<int16_t> other(2 * frames);
    render_buffer(steady, other.data());
    EXPECT_EQ(state.right_phase, steady.right_phase);
}

TEST_F(render_test, zero_hertz_repeats_entry_zero) {
    settings.left_frequency = -1;
    render_state state = render_start(0, 0);
    render_buffer(state, buffer.data());
    for (int j = 0; j < frames; ++j) {
        ASSERT_EQ(right(j), 1);
        ASSERT_EQ(left(j), -1);
    }
}

TEST_F(render_test, negative_frequency_sounds_like_its_magnitude) {
    settings.left_frequency = -1;  // both channels play the tone
    for (double f : {1000.0, 440.5, 3.0}) {
        render_state negative = render_start(-f, 0);
        render_state positive = render_start(f, 0);
        std::vector<int16_t> mirrored(2 * frames);
        for (int pass = 0; pass < 2; ++pass) {
            render_buffer(negative, buffer.data());
            render_buffer(positive, mirrored.data());
            ASSERT_EQ(buffer, mirrored) << f << " Hz pass " << pass;
        }
    }
}

TEST_F(render_test, out_of_range_channel_frequencies_stay_inside_the_tables) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double tones[] = {-1000, -44100, -50000, 44099.98, 44100, 50000, 88200.5, 1e9, 1e300, inf, -inf, nan};
    const double lefts[] = {-1, 0, 1e300, inf, 44100, 3e6};
    for (double tone : tones) {
        for (double left_frequency : lefts) {
            for (int pulse : {0, 7}) {
                settings.left_frequency = left_frequency;
                render_state state = render_start(tone, pulse);
                for (int pass = 0; pass < 3; ++pass) {
                    render_buffer(state, buffer.data());
                    ASSERT_GE(state.right_phase, 0) << tone;
                    ASSERT_LE(state.right_phase, phase_max) << tone;
                    ASSERT_GE(state.left_phase, 0) << left_frequency;
                    ASSERT_LE(state.left_phase, phase_max) << left_frequency;
                }
                for (int j = 0; j < frames; ++j) {
                    ASSERT_LE(right(j), table_size) << tone;
                    ASSERT_GE(right(j), pulse == 0 ? 1 : 0) << tone;
                    ASSERT_GE(left(j), -table_size) << left_frequency;
                    ASSERT_LE(left(j), pulse == 0 ? -1 : 0) << left_frequency;
                }
            }
        }
    }
    // The same under octave shift, whose mapping can scale a wild value.
    settings.left_frequency = 0;
    settings.octave_shift = true;
    for (double tone : tones) {
        render_state state = render_start(tone, 0);
        render_buffer(state, buffer.data());
        ASSERT_GE(state.right_phase, 0) << tone;
        ASSERT_LE(state.right_phase, phase_max) << tone;
    }
}

// Every double a run can hand the renderer as a channel frequency: each
// exponent with both signs and mantissas from the edges and the middle, the
// infinities and NaNs with payloads, on the right, on the left and under
// octave shift. A step within 0 to phase_max keeps every phase, and so every
// table index, within the table for good; a sample of them is rendered too.
TEST_F(render_test, every_double_gives_a_step_that_keeps_the_phase_in_the_table) {
    std::vector<double> values = {1e308, -1e308, 44099.98, 44099.99, std::nextafter(44100.0, 0.0), 44100};
    for (uint64_t bits = 0; bits < 4096; ++bits)  // sign and exponent
        for (uint64_t mantissa : {uint64_t{0}, uint64_t{1}, uint64_t{0x8000000000000}, uint64_t{0xFFFFFFFFFFFFF}})
            values.push_back(std::bit_cast<double>(bits << 52 | mantissa));
    for (size_t i = 0; i < values.size(); ++i) {
        for (int mode = 0; mode < 3; ++mode) {
            settings = run_settings{};
            settings.octave_shift = mode == 2;
            settings.left_frequency = mode == 1 ? values[i] : -1;  // -1: the left channel plays the tone
            render_state state = render_start(mode == 1 ? 440 : values[i], 0);
            ASSERT_TRUE(state.right_step >= 0 && state.right_step <= phase_max) << values[i] << " mode " << mode;
            ASSERT_TRUE(state.left_step >= 0 && state.left_step <= phase_max) << values[i] << " mode " << mode;
            if (i % 101 != 0) continue;
            // Index tables: every sample is its index plus one, negated on the left.
            render_buffer(state, buffer.data());
            ASSERT_TRUE(std::all_of(buffer.begin(), buffer.end(),
                                    [](int16_t sample) { return sample != 0 && std::abs(sample) <= table_size; }))
                << values[i] << " mode " << mode;
        }
    }
}

// Just under the frame rate the step is one more than phase_max: each frame
// moves the phase on by one unit, a wave of one cycle in 23.8 s. Past that
// cycle the phase used to leave the table (from 24 s into the tone); now
// the wave starts over, and every frame before that is what it always was.
TEST_F(render_test, just_under_44100_hertz_the_slow_alias_wave_goes_on_past_the_24th_second) {
    for (double hz : {44099.99, 44099.98, std::nextafter(44100.0, 0.0)}) {
        ASSERT_EQ(phase_step(hz), phase_max + 1) << hz;
        settings.left_frequency = hz;
        render_state state = render_start(hz, 0);
        int64_t frame = 0;
        for (int second = 0; second < 26; ++second) {
            render_buffer(state, buffer.data());
            for (int j = 0; j < frames; ++j, ++frame) {
                // Frame n reads phase n for n up to phase_max, then 1, 2, ...
                const int64_t phase = frame == 0 ? 0 : (frame - 1) % phase_max + 1;
                ASSERT_EQ(right(j), (phase >> 8) + 1) << hz << " Hz, frame " << frame;
                ASSERT_EQ(left(j), -((phase >> 8) + 1)) << hz << " Hz, frame " << frame;
            }
        }
    }
    // The last step below it is unchanged: phase_max, one wrap per frame.
    EXPECT_EQ(render_start(44099.97, 0).right_step, phase_max);
    EXPECT_EQ(phase_step(44099.97), phase_max);
}

TEST_F(render_test, real_tables_default_left_silent_square_left_constant) {
    tables_built = false;
    build_wavetables();
    render_state state = render_start(440, 0);
    render_buffer(state, buffer.data());
    for (int j = 0; j < frames; ++j) ASSERT_EQ(left(j), 0) << j;
    EXPECT_EQ(right(0), 0);

    settings.square_wave = true;
    tables_built = false;
    build_wavetables();
    state = render_start(440, 0);
    render_buffer(state, buffer.data());
    for (int j = 0; j < frames; ++j) ASSERT_EQ(left(j), 16383) << j;
}

}  // namespace
