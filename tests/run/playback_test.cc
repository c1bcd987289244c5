// Whole runs of tonquel on the simulated platform: what reaches the output
// device, for how long, and what the run prints.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/run.h"
#include "engine/sound/render.h"
#include "platform/sim/sim_platform.h"
#include "process/settings.h"
#include "support/run_harness.h"

namespace {

constexpr uint64_t frames_per_second = 44100;
// One poll step of 50 ms beyond the last whole second.
constexpr uint64_t poll_slack_frames = frames_per_second / 20;

using run_result = tq_test::run_output;
using tq_test::rendered;
using tq_test::run;

void expect_length(const sim_output_opening& opening, int seconds, const char* what) {
    EXPECT_GE(opening.frames_played, frames_per_second * seconds) << what;
    EXPECT_LE(opening.frames_played, frames_per_second * (seconds + 1) + poll_slack_frames) << what;
    EXPECT_GE(opening.closed_ms, opening.opened_ms) << what;
}

// Zero crossings (sign changes between non-zero samples) of one channel.
int crossings(const std::vector<int16_t>& samples, int channel, uint64_t from, uint64_t count) {
    int changes = 0;
    int last = 0;
    for (uint64_t j = from; j < from + count; ++j) {
        int s = samples[2 * j + channel];
        if (s == 0) continue;
        if (last != 0 && (s > 0) != (last > 0)) ++changes;
        last = s;
    }
    return changes;
}

TEST(playback_run, tone_plays_its_seconds_of_what_render_gives) {
    for (int seconds : {1, 2, 3}) {
        sim_platform sim;
        run_result r = run(sim, {"440," + std::to_string(seconds)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "#Frequency, Duration\n  440, " + std::to_string(seconds) + "\n");
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(sim.audio.outputs.size(), 1u);
        const sim_output_opening& opening = sim.audio.outputs[0];
        expect_length(opening, seconds, "steady tone");
        EXPECT_EQ(opening.underrun_frames, 0u);
        ASSERT_EQ(opening.samples.size(), 2 * opening.frames_played);
        EXPECT_EQ(opening.samples, rendered(440, 0, opening.frames_played)) << seconds << " s";
        EXPECT_EQ(sim.audio.open_output_devices, 0);
    }
}

TEST(playback_run, every_tone_starts_from_phase_zero_in_schedule_order) {
    sim_platform sim;
    run_result r = run(sim, {"440,1", "1000,2", "300,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 1\n  1000, 2\n  300, 1\n");
    ASSERT_EQ(sim.audio.outputs.size(), 3u);
    const double tones[] = {440, 1000, 300};
    const int lengths[] = {1, 2, 1};
    for (size_t i = 0; i < 3; ++i) {
        const sim_output_opening& opening = sim.audio.outputs[i];
        expect_length(opening, lengths[i], "tone");
        EXPECT_EQ(opening.underrun_frames, 0u) << i;
        EXPECT_EQ(opening.samples, rendered(tones[i], 0, opening.frames_played)) << tones[i];
    }
    // Openings follow one another.
    EXPECT_LE(sim.audio.outputs[0].closed_ms, sim.audio.outputs[1].opened_ms);
    EXPECT_LE(sim.audio.outputs[1].closed_ms, sim.audio.outputs[2].opened_ms);
}

TEST(playback_run, progress_line_uses_six_significant_digits) {
    sim_platform sim;
    run_result r = run(sim, {"1234.5678,1", "0.5,1"});
    EXPECT_EQ(r.out, "#Frequency, Duration\n  1234.57, 1\n  0.5, 1\n");
}

TEST(playback_run, tone_below_one_second_prints_its_line_and_opens_nothing) {
    sim_platform sim;
    run_result r = run(sim, {"440,-5", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, -5\n  550, 1\n");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.outputs[0].opened_ms, sim_platform::start_ms);
    EXPECT_EQ(sim.audio.outputs[0].samples, rendered(550, 0, sim.audio.outputs[0].frames_played));
}

bool silent_between(const std::vector<int16_t>& samples, uint64_t from, uint64_t to) {
    for (uint64_t k = 2 * from; k < 2 * to; ++k)
        if (samples[k] != 0) return false;
    return true;
}

// Gated every 2205 frames (10 pulses): odd segments of every second silent,
// even ones sounding.
void expect_pulsed_by_ten(const sim_output_opening& opening, const char* what) {
    for (uint64_t j0 = 0; j0 + 2205 <= opening.frames_played; j0 += 2205) {
        bool odd = ((j0 % frames_per_second) / 2205) % 2 == 1;
        EXPECT_EQ(silent_between(opening.samples, j0, j0 + 2205), odd) << what << " segment at " << j0;
    }
}

TEST(playback_run, pulse_duration_splits_long_entries) {
    sim_platform sim;
    run_result r = run(sim, {"-p", "10,5", "440,3", "550,5", "660,8"});
    EXPECT_EQ(r.status, 0);
    // The progress line gives the whole duration once.
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 3\n  550, 5\n  660, 8\n");
    // 3 s: pulsed whole; 5 s: empty steady part (no opening) and 5 pulsed;
    // 8 s: 3 steady then 5 pulsed.
    ASSERT_EQ(sim.audio.outputs.size(), 4u);
    const auto& outputs = sim.audio.outputs;
    expect_length(outputs[0], 3, "440 pulsed");
    expect_length(outputs[1], 5, "550 pulsed");
    expect_length(outputs[2], 3, "660 steady part");
    expect_length(outputs[3], 5, "660 pulsed part");
    expect_pulsed_by_ten(outputs[0], "440");
    expect_pulsed_by_ten(outputs[1], "550");
    expect_pulsed_by_ten(outputs[3], "660 pulsed");
    EXPECT_EQ(outputs[0].samples, rendered(440, 10, outputs[0].frames_played));
    EXPECT_EQ(outputs[1].samples, rendered(550, 10, outputs[1].frames_played));
    EXPECT_EQ(outputs[2].samples, rendered(660, 0, outputs[2].frames_played));
    // The pulsed part starts again from phase zero.
    EXPECT_EQ(outputs[3].samples, rendered(660, 10, outputs[3].frames_played));
    EXPECT_FALSE(silent_between(outputs[2].samples, 2205, 4410));
}

TEST(playback_run, pulse_without_duration_pulses_every_whole_entry) {
    sim_platform sim;
    run_result r = run(sim, {"-p", "10", "440,2", "550,6"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.outputs.size(), 2u);
    expect_length(sim.audio.outputs[0], 2, "440");
    expect_length(sim.audio.outputs[1], 6, "550");
    expect_pulsed_by_ten(sim.audio.outputs[0], "440");
    expect_pulsed_by_ten(sim.audio.outputs[1], "550");
}

TEST(playback_run, left_channel_modes) {
    struct left_case {
        std::vector<std::string> args;
        int right_crossings;  // in the first second
        int left_crossings;
    };
    const left_case cases[] = {
        {{"440,1"}, 880, 0},
        {{"-l", "550", "440,1"}, 880, 1100},
        {{"-l=r", "440,1"}, 880, 880},
        {{"-e", "10,1"}, 1280, 2000},       // 10 Hz six octaves up, companion 1000 Hz
        {{"-e", "20,1"}, 40, 0},
    };
    for (const auto& c : cases) {
        sim_platform sim;
        run_result r = run(sim, c.args);
        ASSERT_EQ(r.status, 0) << c.args[0];
        ASSERT_EQ(sim.audio.outputs.size(), 1u);
        const auto& samples = sim.audio.outputs[0].samples;
        EXPECT_NEAR(crossings(samples, 1, 0, frames_per_second), c.right_crossings, 2) << c.args[0];
        EXPECT_NEAR(crossings(samples, 0, 0, frames_per_second), c.left_crossings, 2) << c.args[0];
    }
}

TEST(playback_run, same_frequency_left_channel_sample_by_sample) {
    sim_platform sim;
    run(sim, {"-l=r", "440,1"});
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    const auto& samples = sim.audio.outputs[0].samples;
    ASSERT_FALSE(samples.empty());
    for (size_t j = 0; j < samples.size() / 2; ++j) ASSERT_EQ(samples[2 * j], samples[2 * j + 1]) << j;
}

TEST(playback_run, phase_ninety_leads_the_right_channel_by_a_quarter) {
    sim_platform sim;
    run_result r = run(sim, {"-P", "90", "441,1"});
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    const auto& samples = sim.audio.outputs[0].samples;
    // Frame 0: left at sine 0, right at sine 90 degrees (16384 at volume 0.5).
    EXPECT_EQ(samples[0], 0);
    EXPECT_EQ(samples[1], 16384);
    // Both channels at the tone's frequency.
    EXPECT_NEAR(crossings(samples, 0, 0, frames_per_second), 882, 2);
    EXPECT_NEAR(crossings(samples, 1, 0, frames_per_second), 882, 2);
    EXPECT_EQ(samples, rendered(441, 0, sim.audio.outputs[0].frames_played));
}

TEST(playback_run, shape_and_volume_reach_the_device) {
    sim_platform sim;
    run_result r = run(sim, {"-T", "-vr", "1", "-l=r", "440,1"});
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    int16_t right_max = 0;
    int16_t left_max = 0;
    const auto& samples = sim.audio.outputs[0].samples;
    for (size_t j = 0; j < samples.size() / 2; ++j) {
        left_max = std::max(left_max, samples[2 * j]);
        right_max = std::max(right_max, samples[2 * j + 1]);
    }
    EXPECT_LE(right_max, 32767);
    EXPECT_GT(right_max, 32000);
    EXPECT_LE(left_max, 16383);
    EXPECT_GT(left_max, 16000);
}

TEST(playback_run, output_device_that_fails_to_open_ends_the_run) {
    sim_platform sim;
    sim.audio.fail_open_output = 7;
    run_result r = run(sim, {"440,2", "550,2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 2\n");
    EXPECT_EQ(r.err, "tonquel: waveOut: simulated device error 7\n");
    EXPECT_TRUE(sim.audio.outputs.empty());
    EXPECT_EQ(sim.audio.open_output_devices, 0);
}

TEST(playback_run, output_that_stops_answering_as_the_tone_ends_ends_the_run) {
    sim_platform sim;
    sim.audio.fail_reset_output = 12;
    run_result r = run(sim, {"440,2", "550,2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 2\n");
    EXPECT_EQ(r.err, "tonquel: waveOut: simulated device error 12\n");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
}

TEST(playback_run, failing_write_ends_the_run_with_the_device_closed) {
    // The first write, the second of the first pass, and a refill.
    for (int failing : {1, 2, 4}) {
        sim_platform sim;
        sim.audio.fail_write_number = failing;
        sim.audio.fail_write_code = 11;
        run_result r = run(sim, {"440,5", "550,2"});
        EXPECT_EQ(r.status, 1) << failing;
        EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 5\n") << failing;
        EXPECT_EQ(r.err, "tonquel: waveOut: simulated device error 11\n") << failing;
        ASSERT_EQ(sim.audio.outputs.size(), 1u) << failing;
        EXPECT_EQ(sim.audio.open_output_devices, 0) << failing;
        EXPECT_GE(sim.audio.outputs[0].closed_ms, sim.audio.outputs[0].opened_ms) << failing;
        EXPECT_EQ(sim.audio.writes, failing) << failing;
    }
}

TEST(playback_run, one_hour_tone_runs_to_its_end) {
    sim_platform sim;
    sim.audio.record_samples = false;
    run_result r = run(sim, {"440,3600"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 3600\n");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    expect_length(sim.audio.outputs[0], 3600, "one hour");
    EXPECT_EQ(sim.audio.outputs[0].underrun_frames, 0u);
}

}  // namespace

namespace {

// A run held up past the second block's end lets the device run dry: the
// record says so, once a tone, and the run plays on; a pause does not count.
TEST(playback_run, a_device_left_without_sound_is_told_once_a_tone) {
    struct case_ {
        std::vector<sim_key> keys;
        bool told;
    } cases[] = {{{}, true}, {{{sim_platform::start_ms + 1500, 'p'}, {sim_platform::start_ms + 4500, 'x'}}, false}};
    for (const case_& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = c.keys;
        sim.hold_up = {sim_platform::start_ms + 1500, 2500};
        const run_result r = run(sim, {"440,6"});
        EXPECT_EQ(r.status, 0);
        const std::string told = "tonquel: waveOut: the sound ran out 0:04 into the tone: the machine was too busy to "
                                 "feed the sound device in time\n";
        EXPECT_EQ(r.err, c.told ? told : "") << r.err;
    }
}

}  // namespace
