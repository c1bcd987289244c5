// Whole runs with -m: what the input capture writes into the MOR file for
// each tone, and how its failures end the run.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/run.h"
#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

constexpr int64_t t0 = sim_platform::start_ms;

using run_result = tq_test::run_output;
using tq_test::run;

class capture_run : public ::testing::Test {
protected:
    void SetUp() override {
        // A signal that differs on every frame and between the channels.
        sim.audio.input_signal = [](int64_t ms) {
            int64_t rel = ms - t0;
            return std::pair<int16_t, int16_t>{static_cast<int16_t>(rel % 30011 - 15000),
                                               static_cast<int16_t>(-(rel % 977))};
        };
    }
    static std::string read(const char* name) { return tq_test::read_file(name); }

    // The lines of one tone's block: frames 0.. of the signal from the
    // moment the capture started.
    std::string block(const char* frequency, int64_t started_ms, int frames) const {
        std::string lines;
        char line[96];
        for (int i = 0; i < frames; ++i) {
            auto [left, right] = sim.audio.input_signal(started_ms + i);
            snprintf(line, sizeof line, "%s %d %d %d\n", frequency, i, left, right);
            lines += line;
        }
        return lines;
    }

    static size_t line_count(const std::string& text) {
        return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    // Each test runs in a directory of its own, as -m creates its file at once.
    tq_test::temp_dir dir_;
    sim_platform sim;
};

TEST_F(capture_run, three_second_tone_writes_three_thousand_frames) {
    run_result r = run(sim, {"-m", "mor.txt", "440,3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(sim.audio.inputs.size(), 1u);
    const sim_input_opening& input = sim.audio.inputs[0];
    // Recording starts with the tone, before its first second is queued.
    EXPECT_EQ(input.started_ms, sim.audio.outputs[0].opened_ms);
    EXPECT_EQ(read("mor.txt"), block("440", input.started_ms, 3000));
    EXPECT_EQ(sim.audio.open_input_devices, 0);
    EXPECT_GE(input.closed_ms, t0 + 3000);
    EXPECT_LE(input.closed_ms, sim.audio.outputs[0].closed_ms);
}

// The tone's seconds are counted on the whole-second clock: one that starts
// just before a second turns ends barely past its length, while the last
// tenth of its input is still on its way. The block waits for it.
TEST_F(capture_run, a_tone_begun_late_in_its_second_still_gets_all_its_frames) {
    sim.advance(990);
    sim.audio.input_delay_ms = 100;
    run_result r = run(sim, {"-m", "mor.txt", "440,3"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 1u);
    EXPECT_EQ(read("mor.txt"), block("440", sim.audio.inputs[0].started_ms, 3000));
}

TEST_F(capture_run, name_attached_to_the_option_and_fractional_frequency) {
    run_result r = run(sim, {"-mmor.txt", "1234.5678,1"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 1u);
    EXPECT_EQ(read("mor.txt"), block("1234.57", sim.audio.inputs[0].started_ms, 1000));
}

TEST_F(capture_run, long_tone_keeps_only_its_first_ten_seconds) {
    sim.audio.record_samples = false;
    run_result r = run(sim, {"-m", "mor.txt", "440,60"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 1u);
    EXPECT_EQ(read("mor.txt"), block("440", sim.audio.inputs[0].started_ms, 10000));
}

TEST_F(capture_run, skipped_tone_writes_what_was_recorded_until_the_key) {
    sim.keys.script = {{t0 + 1500, 's'}};
    run_result r = run(sim, {"-m", "mor.txt", "440,3"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 1u);
    int64_t started = sim.audio.inputs[0].started_ms;
    int frames = static_cast<int>(t0 + 1500 - started);
    EXPECT_GE(frames, 1450);
    EXPECT_LE(frames, 1500);
    EXPECT_EQ(read("mor.txt"), block("440", started, frames));
}

TEST_F(capture_run, split_tone_writes_two_blocks_each_from_frame_zero) {
    // 8 s: 3 steady then 5 pulsed; 5 s: an empty steady part that opens
    // nothing, then 5 pulsed.
    run_result r = run(sim, {"-p", "10,5", "-m", "mor.txt", "440,8", "550,5"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 3u);
    const auto& inputs = sim.audio.inputs;
    EXPECT_EQ(read("mor.txt"), block("440", inputs[0].started_ms, 3000) + block("440", inputs[1].started_ms, 5000) +
                                   block("550", inputs[2].started_ms, 5000));
}

TEST_F(capture_run, quit_during_the_third_tone_leaves_the_first_two_blocks) {
    // 440 from t0 to t0+2000, 550 to t0+4000, then 660.
    sim.keys.script = {{t0 + 4500, 'q'}};
    run_result r = run(sim, {"-m", "mor.txt", "440,1", "550,1", "660,2"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 3u);
    const auto& inputs = sim.audio.inputs;
    EXPECT_EQ(read("mor.txt"), block("440", inputs[0].started_ms, 1000) + block("550", inputs[1].started_ms, 1000));
    EXPECT_EQ(sim.audio.open_input_devices, 0);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_EQ(inputs[2].closed_ms, t0 + 4500);
}

TEST_F(capture_run, interrupt_closes_the_input_without_writing_its_block) {
    sim.raise_signal_at(t0 + 2700, SIGINT);
    run_result r = run(sim, {"-m", "mor.txt", "440,1", "550,2"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 2u);
    EXPECT_EQ(read("mor.txt"), block("440", sim.audio.inputs[0].started_ms, 1000));
    EXPECT_EQ(sim.audio.open_input_devices, 0);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_GE(sim.audio.inputs[1].closed_ms, t0 + 2700);
}

TEST_F(capture_run, tone_below_one_second_opens_no_input) {
    run_result r = run(sim, {"-m", "mor.txt", "440,-5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, -5\n");
    EXPECT_TRUE(sim.audio.inputs.empty());
    EXPECT_TRUE(sim.audio.outputs.empty());
    EXPECT_EQ(read("mor.txt"), "");
}

TEST_F(capture_run, octave_shifted_tone_is_tagged_with_its_own_frequency) {
    run_result r = run(sim, {"-e", "-m", "mor.txt", "10,1"});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(sim.audio.inputs.size(), 1u);
    EXPECT_EQ(read("mor.txt"), block("10", sim.audio.inputs[0].started_ms, 1000));
}

TEST_F(capture_run, input_that_stops_answering_keeps_what_it_recorded_and_ends_the_run) {
    sim.audio.fail_stop_input = 13;
    run_result r = run(sim, {"-m", "mor.txt", "440,2", "550,2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 2\n");
    EXPECT_EQ(r.err, "tonquel: waveIn: simulated device error 13\n");
    ASSERT_EQ(sim.audio.inputs.size(), 1u);
    EXPECT_EQ(read("mor.txt"), block("440", sim.audio.inputs[0].started_ms, 2000));
    EXPECT_EQ(sim.audio.open_input_devices, 0);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
}

TEST_F(capture_run, input_device_failures_end_the_run) {
    struct failure_case {
        const char* what;
        bool at_open;
        int code;
    };
    const failure_case cases[] = {{"open", true, 5}, {"start", false, 9}};
    for (const auto& c : cases) {
        sim_platform failing;
        if (c.at_open)
            failing.audio.fail_open_input = c.code;
        else
            failing.audio.fail_start_input = c.code;
        run_result r = run(failing, {"-m", "mor.txt", "440,2", "550,2"});
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 2\n") << c.what;
        EXPECT_EQ(r.err, "tonquel: waveIn: simulated device error " + std::to_string(c.code) + "\n") << c.what;
        EXPECT_EQ(failing.audio.open_input_devices, 0) << c.what;
        EXPECT_EQ(failing.audio.open_output_devices, 0) << c.what;
        ASSERT_EQ(failing.audio.outputs.size(), 1u) << c.what;
        EXPECT_EQ(failing.audio.outputs[0].frames_played, 0u) << c.what;
        EXPECT_EQ(read("mor.txt"), "") << c.what;
    }
}

TEST_F(capture_run, file_is_replaced_at_option_time_and_left_empty_by_a_usage_error) {
    {
        std::ofstream old("mor.txt");
        old << "old contents\n";
    }
    run_result r = run(sim, {"-m", "mor.txt", "-S", "-T", "440,1"});
    EXPECT_EQ(r.status, 2);
    struct stat info {};
    ASSERT_EQ(stat("mor.txt", &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_TRUE(sim.audio.outputs.empty());
    EXPECT_TRUE(sim.audio.inputs.empty());
}

TEST_F(capture_run, second_m_is_a_usage_error) {
    run_result r = run(sim, {"-m", "a.txt", "-m", "b.txt", "440,1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read("a.txt"), "");
    EXPECT_FALSE(std::filesystem::exists("b.txt"));
}

TEST_F(capture_run, file_that_cannot_be_created_ends_the_run) {
    ASSERT_TRUE(std::filesystem::create_directory("sub"));
    std::ofstream("sub/x") << "x";
    // Only earlier files are deleted: not even an empty directory goes.
    ASSERT_TRUE(std::filesystem::create_directory("empty"));
    const struct {
        const char* path;
        int error;
    } cases[] = {{"missing/mor.txt", ENOENT},
                 {"sub", tq_test::directory_open_error},
                 {"empty", tq_test::directory_open_error}};
    for (const auto& c : cases) {
        sim_platform unused;
        run_result r = run(unused, {"-m", c.path, "440,1"});
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_EQ(r.out, "") << c.path;
        EXPECT_EQ(r.err, std::string("tonquel: ") + c.path + ": " + strerror(c.error) + "\n");
        EXPECT_TRUE(unused.audio.outputs.empty()) << c.path;
    }
    EXPECT_TRUE(std::filesystem::is_directory("empty"));
}

}  // namespace
