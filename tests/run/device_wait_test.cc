// Whole runs that meet a sound server going away and coming back: with
// --wait-for-device the run waits for it and the tone keeps its time;
// without it the run ends as it always did. And the sleep inhibitor.

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

using tq_test::run;
constexpr int64_t t0 = sim_platform::start_ms;
constexpr uint64_t frames_per_second = 44100;

uint64_t frames_played(const sim_platform& sim, size_t first, size_t last) {
    uint64_t frames = 0;
    for (size_t i = first; i <= last; ++i) frames += sim.audio.outputs[i].frames_played;
    return frames;
}

TEST(device_wait_run, a_server_back_within_the_wait_costs_the_tone_none_of_its_time) {
    tq_test::temp_dir dir;
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.audio.outage = {t0 + 2000, t0 + 3500, 5};
    tq_test::run_output r = run(sim, {"-r", "--wait-for-device=10", "440,4", "660,3"});
    EXPECT_EQ(r.status, 0);
    // The tone line once; the gap reported as it starts and as it ends.
    EXPECT_EQ(r.out.find("  440, 4\n"), r.out.rfind("  440, 4\n"));
    EXPECT_NE(r.out.find("  660, 3\n"), std::string::npos);
    EXPECT_NE(r.err.find("tonquel: waveOut: simulated device error 5 (waiting up to 10 s for it to answer "
                         "again)\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("tonquel: waveOut: the sound device answers again, after 2 s without sound\n"),
              std::string::npos)
        << r.err;
    // 440 Hz on its first opening and on the reopened one, 660 Hz on a third.
    ASSERT_EQ(sim.audio.outputs.size(), 3u);
    const uint64_t first = frames_played(sim, 0, 1);
    EXPECT_GE(first, 4 * frames_per_second - frames_per_second / 10);
    EXPECT_LE(first, 5 * frames_per_second + frames_per_second / 10);
    EXPECT_GE(sim.audio.outputs[2].frames_played, 3 * frames_per_second);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    // The session file has both messages as comments.
    const std::vector<std::string> sessions = tq_test::files_starting_with("session_");
    ASSERT_EQ(sessions.size(), 1u);
    const std::string session = tq_test::read_file(sessions[0]);
    EXPECT_NE(session.find("#tonquel: waveOut: the sound device answers again"), std::string::npos);
}

TEST(device_wait_run, ends_as_before_when_the_wait_runs_out_or_is_not_asked_for) {
    struct case_ {
        std::vector<std::string> args;
        int64_t wait_ms_at_least;
    } cases[] = {
        {{"--wait-for-device", "5", "440,20"}, 5000},
        {{"--wait-for-device=0", "440,20"}, 0},
        {{"440,20"}, 0},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.audio.outage = {t0 + 2000, -1, 5};
        tq_test::run_output r = run(sim, c.args);
        EXPECT_EQ(r.status, 1) << c.args[0];
        const std::string last = "tonquel: waveOut: simulated device error 5\n";
        ASSERT_GE(r.err.size(), last.size());
        EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last) << c.args[0];
        EXPECT_GE(sim.now_ms() - (t0 + 2000), c.wait_ms_at_least) << c.args[0];
        EXPECT_LE(sim.now_ms() - (t0 + 2000), c.wait_ms_at_least + 1500) << c.args[0];
        EXPECT_EQ(sim.audio.open_output_devices, 0);
    }
}

TEST(device_wait_run, a_device_missing_at_the_start_is_waited_for_and_the_tone_then_plays_whole) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.status_line.is_terminal = true;
    sim.audio.outage = {t0, t0 + 3000, 5};
    tq_test::run_output r = run(sim, {"--wait-for-device=60", "440,2"});
    EXPECT_EQ(r.status, 0) << r.err;
    bool shown_waiting = false;
    for (const sim_line_event& event : sim.status_line.events)
        shown_waiting |= event.text.find("no sound device 0:02 of 1:00") != std::string::npos;
    EXPECT_TRUE(shown_waiting);
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_GE(sim.audio.outputs[0].opened_ms, t0 + 3000);
    EXPECT_GE(sim.audio.outputs[0].frames_played, 2 * frames_per_second);
}

TEST(device_wait_run, keys_and_ctrl_c_act_during_the_wait) {
    struct case_ {
        const char* name;
        std::vector<sim_key> keys;
        int signal_at;
        int status;
        size_t openings;  // 660 Hz plays after a skip
    } cases[] = {
        {"skip", {{t0 + 3000, 's'}}, 0, 0, 2},
        {"quit", {{t0 + 3000, 'q'}}, 0, 0, 1},
        {"ctrl-c", {}, 3000, 0, 1},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        // Back at 3.1 s, after the keys and the signal at 3 s.
        sim.audio.outage = {t0 + 2000, t0 + 3100, 5};
        sim.keys.script = c.keys;
        if (c.signal_at != 0) sim.raise_signal_at(t0 + c.signal_at, SIGINT);
        tq_test::run_output r = run(sim, {"--wait-for-device=30", "440,20", "660,1"});
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(sim.audio.outputs.size(), c.openings) << c.name;
        EXPECT_LT(sim.now_ms(), t0 + 7000) << c.name;
        EXPECT_EQ(sim.audio.open_output_devices, 0) << c.name;
    }
}

TEST(device_wait_run, the_mor_block_holds_the_frames_before_and_after_the_gap_in_order) {
    tq_test::temp_dir dir;
    sim_platform sim;
    sim.audio.record_samples = false;
    // Each frame tells the millisecond it was recorded at.
    sim.audio.input_signal = [](int64_t ms) {
        return std::pair<int16_t, int16_t>{static_cast<int16_t>((ms - t0) / 10), 0};
    };
    sim.audio.outage = {t0 + 2000, t0 + 3500, 5};
    tq_test::run_output r = run(sim, {"--wait-for-device=10", "-m", "mor.txt", "440,5"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(sim.audio.inputs.size(), 2u);
    std::vector<int> frame_numbers;
    std::vector<int> times;
    std::istringstream lines(tq_test::read_file("mor.txt"));
    double frequency;
    int number, left, right;
    while (lines >> frequency >> number >> left >> right) {
        frame_numbers.push_back(number);
        times.push_back(left);
    }
    // About 2 s before the gap and 5 s of tone time in all, numbered on.
    ASSERT_GE(frame_numbers.size(), 4500u);
    for (size_t i = 0; i < frame_numbers.size(); ++i) ASSERT_EQ(frame_numbers[i], static_cast<int>(i));
    for (size_t i = 1; i < times.size(); ++i) ASSERT_GE(times[i], times[i - 1]);
    EXPECT_LT(times[1900], 200);   // before the gap
    EXPECT_GE(times.back(), 350);  // after it
}

TEST(device_wait_run, the_machine_is_kept_awake_only_while_tones_sound) {
    struct case_ {
        std::vector<std::string> args;
        int holds;
    } cases[] = {
        {{"440,1", "550,1"}, 1},
        {{"--allow-sleep", "440,1"}, 0},
        {{"--output", "x.wav", "440,1"}, 0},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        tq_test::run_output r = run(sim, c.args);
        EXPECT_EQ(r.status, 0) << c.args[0] << r.err;
        EXPECT_EQ(sim.sleep.holds, c.holds) << c.args[0];
        EXPECT_FALSE(sim.sleep.held) << c.args[0];
    }
}

}  // namespace

namespace {

// The wait keeps its word: it runs from the first failure, a device that
// opens but plays nothing is not back, and a try that would outlast the wait
// is cut short; a device that answers late within the wait plays the tone.
TEST(device_wait_run, the_wait_ends_within_its_time_of_the_first_failure_and_only_sound_ends_it) {
    struct case_ {
        const char* name;
        sim_wave_audio::outage_times frozen;
        sim_wave_audio::outage_times open_hangs;
        int64_t first_failure_ms;  // when the device is first seen to fail
        int status;
    } cases[] = {
        {"opens, never plays", {t0, -1, 0}, {}, device_start_limit_ms, 1},
        {"never answers an open", {}, {t0, -1, 0}, device_answer_limit_ms, 1},
        {"answers an open late", {}, {t0, t0 + 8000, 0}, device_answer_limit_ms, 0},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.audio.frozen = c.frozen;
        sim.audio.open_hangs = c.open_hangs;
        const tq_test::run_output r = run(sim, {"--wait-for-device=10", "440,20"});
        EXPECT_EQ(r.status, c.status) << c.name << r.err;
        const int64_t after_failure = sim.now_ms() - t0 - c.first_failure_ms;
        if (c.status == 1) {
            EXPECT_GE(after_failure, 10000) << c.name;
            EXPECT_LE(after_failure, 11000) << c.name;
            EXPECT_EQ(r.err.find("answers again"), std::string::npos) << c.name << r.err;
        } else {
            EXPECT_GE(frames_played(sim, 0, sim.audio.outputs.size() - 1), 20 * frames_per_second) << c.name;
            EXPECT_NE(r.err.find("answers again"), std::string::npos) << c.name << r.err;
        }
        EXPECT_EQ(sim.audio.open_output_devices, 0) << c.name;
    }
}

// A microphone that goes away is told: without the wait the run ends with
// status 1 and what it recorded; with it the tone plays on and the input is
// opened again, its frames numbered on.
TEST(device_wait_run, a_lost_input_is_told_and_waited_for_while_the_tone_plays_on) {
    struct case_ {
        std::vector<std::string> args;
        int status;
        size_t inputs;
        size_t lines_at_least;
        const char* told;
    } cases[] = {
        {{"-m", "mor.txt", "440,6"}, 1, 1, 1400, "tonquel: waveIn: simulated device error 7\n"},
        {{"--wait-for-device=10", "-m", "mor.txt", "440,6"}, 0, 2, 4000,
         "tonquel: waveIn: the sound device answers again, after 3 s without sound\n"},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.audio.input_outage = {t0 + 1500, t0 + 4000, 7};
        const tq_test::run_output r = run(sim, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
        EXPECT_EQ(sim.audio.outputs.size(), 1u) << "the sound went on";
        EXPECT_EQ(sim.audio.inputs.size(), c.inputs);
        std::istringstream lines(tq_test::read_file("mor.txt"));
        double frequency;
        int number, left, right;
        size_t count = 0;
        while (lines >> frequency >> number >> left >> right) EXPECT_EQ(number, static_cast<int>(count++));
        EXPECT_GE(count, c.lines_at_least);
        EXPECT_EQ(sim.audio.open_input_devices, 0);
    }
}

}  // namespace
