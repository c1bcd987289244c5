// Whole runs with scripted key presses: what each key does to the schedule,
// the log and the output device.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/run.h"
#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

constexpr int64_t t0 = sim_platform::start_ms;
constexpr uint64_t frames_per_second = 44100;

using run_result = tq_test::run_output;
using tq_test::run;


std::string added(double f) {
    char line[64];
    snprintf(line, sizeof line, "# added %g, 180\n", f);
    return line;
}

std::string tone_line(double f, int seconds) {
    char line[64];
    snprintf(line, sizeof line, "  %g, %d\n", f, seconds);
    return line;
}

const std::string header = "#Frequency, Duration\n";

int64_t open_ms(const sim_output_opening& opening) {
    return opening.closed_ms - opening.opened_ms;
}

TEST(keys_run, plus_and_minus_add_one_tone_right_after_the_playing_one) {
    struct key_case {
        std::vector<sim_key> script;
        std::string log;
        std::vector<double> added_tones;
    };
    const key_case cases[] = {
        {{{t0 + 500, '+'}}, added(441), {441}},
        {{{t0 + 500, '+'}, {t0 + 1000, '+'}}, added(441) + added(441), {441, 441}},
        {{{t0 + 500, '-'}}, added(439), {439}},
        {{{t0 + 500, '+'}, {t0 + 1000, '-'}}, added(441) + added(439), {439, 441}},
    };
    for (const auto& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = c.script;
        run_result r = run(sim, {"440,2", "550,1"});
        EXPECT_EQ(r.status, 0);
        std::string expected = header + tone_line(440, 2) + c.log;
        for (double f : c.added_tones) expected += tone_line(f, 180);
        expected += tone_line(550, 1);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
        // The playing tone goes on to its end; each added tone lasts 180 s.
        ASSERT_EQ(sim.audio.outputs.size(), 2 + c.added_tones.size());
        EXPECT_GE(sim.audio.outputs[0].frames_played, 2 * frames_per_second);
        for (size_t i = 1; i <= c.added_tones.size(); ++i) {
            EXPECT_GE(sim.audio.outputs[i].frames_played, 180 * frames_per_second);
            EXPECT_LE(sim.audio.outputs[i].frames_played, 181 * frames_per_second + 2205);
        }
    }
}

TEST(keys_run, n_and_capital_n_add_neighbours_logged_high_to_low_played_low_to_high) {
    const double near[] = {3, 2, 1, -1, -2, -3};
    const double fine[] = {3,    2,     1.5,  1,     0.75, 0.5, 0.25, 0.1, 0.05,
                           -0.05, -0.1, -0.25, -0.5, -0.75, -1,  -1.5, -2,  -3};
    struct key_case {
        int code;
        std::vector<double> offsets;
    };
    const key_case cases[] = {
        {'n', std::vector<double>(std::begin(near), std::end(near))},
        {'N', std::vector<double>(std::begin(fine), std::end(fine))},
    };
    for (const auto& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = {{t0 + 500, c.code}};
        run_result r = run(sim, {"440,1", "550,1"});
        EXPECT_EQ(r.status, 0);
        std::string expected = header + tone_line(440, 1);
        for (double o : c.offsets) expected += added(440 + o);
        for (auto o = c.offsets.rbegin(); o != c.offsets.rend(); ++o) expected += tone_line(440 + *o, 180);
        expected += tone_line(550, 1);
        EXPECT_EQ(r.out, expected) << static_cast<char>(c.code);
        EXPECT_EQ(sim.audio.outputs.size(), 2 + c.offsets.size());
    }
}

TEST(keys_run, fine_neighbours_play_in_this_order) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 500, 'N'}};
    run_result r = run(sim, {"440,1"});
    std::string expected_tail;
    for (const char* f : {"437", "438", "438.5", "439", "439.25", "439.5", "439.75", "439.9", "439.95", "440.05",
                          "440.1", "440.25", "440.5", "440.75", "441", "441.5", "442", "443"})
        expected_tail += std::string("  ") + f + ", 180\n";
    ASSERT_GE(r.out.size(), expected_tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - expected_tail.size()), expected_tail);
}

TEST(keys_run, added_tones_take_the_scheduled_frequency_and_skip_admission) {
    struct key_case {
        std::vector<std::string> args;
        int code;
        std::string expected;
    };
    const key_case cases[] = {
        // The octave mapping and the left frequency play no part.
        {{"-e", "10,1"}, '+', header + tone_line(10, 1) + added(11) + tone_line(11, 180)},
        {{"-l", "500", "440,1"}, '-', header + tone_line(440, 1) + added(439) + tone_line(439, 180)},
        // Below 0 Hz, with no limit applied.
        {{"0.5,1"}, '-', header + tone_line(0.5, 1) + added(-0.5) + tone_line(-0.5, 180)},
    };
    for (const auto& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = {{t0 + 500, c.code}};
        run_result r = run(sim, c.args);
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(r.out, c.expected) << c.args[0];
        ASSERT_EQ(sim.audio.outputs.size(), 2u) << c.args[0];
        EXPECT_GE(sim.audio.outputs[1].frames_played, 180 * frames_per_second) << c.args[0];
    }
}

TEST(keys_run, tone_added_during_the_steady_part_follows_the_pulsed_part) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 500, '+'}};
    run_result r = run(sim, {"-p", "10,1", "440,2", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 2) + added(441) + tone_line(441, 180) + tone_line(550, 1));
    // 440 steady, 440 pulsed, 441 steady part of 179 s and pulsed 1 s, 550 pulsed.
    ASSERT_EQ(sim.audio.outputs.size(), 5u);
    EXPECT_GE(sim.audio.outputs[2].frames_played, 179 * frames_per_second);
}

TEST(keys_run, back_on_the_first_entry_replays_it_without_a_line) {
    sim_platform sim;
    sim.keys.script = {{t0 + 500, 'b'}};
    run_result r = run(sim, {"440,2", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 2) + tone_line(440, 2) + tone_line(550, 1));
    ASSERT_EQ(sim.audio.outputs.size(), 3u);
    // Ends at the key, then plays again in full.
    EXPECT_EQ(sim.audio.outputs[0].closed_ms, t0 + 500);
    EXPECT_EQ(sim.audio.outputs[0].frames_played, frames_per_second / 2);
    EXPECT_GE(sim.audio.outputs[1].frames_played, 2 * frames_per_second);
    // The replay starts from phase zero: its first half second is the cut one.
    const auto& cut = sim.audio.outputs[0].samples;
    const auto& replay = sim.audio.outputs[1].samples;
    ASSERT_GE(replay.size(), cut.size());
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), replay.begin()));
}

TEST(keys_run, back_on_the_third_entry_walks_over_the_comment) {
    tq_test::temp_dir dir;
    tq_test::write_file("tones", "440,2\n# c\n550,2\n660,2\n");
    sim_platform sim;
    sim.audio.record_samples = false;
    // 440 plays from t0 to t0 + 3000; 550 from there.
    sim.keys.script = {{t0 + 3500, 'b'}};
    run_result r = run(sim, {"-f", "tones"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + "# tones\n" + tone_line(440, 2) + "# c\n" + tone_line(550, 2) +
                         "#back to previous frequency\n" + tone_line(440, 2) + "# c\n" + tone_line(550, 2) +
                         tone_line(660, 2));
    EXPECT_EQ(sim.audio.outputs.size(), 5u);
}

TEST(keys_run, back_with_only_comments_before_resumes_at_the_first_entry) {
    tq_test::temp_dir dir;
    tq_test::write_file("tones", "# c\n440,2\n");
    sim_platform sim;
    sim.keys.script = {{t0 + 500, 'b'}};
    run_result r = run(sim, {"-f", "tones"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + "# tones\n# c\n" + tone_line(440, 2) + "# c\n" + tone_line(440, 2));
}

TEST(keys_run, skip_ends_the_tone_at_once) {
    sim_platform sim;
    sim.keys.script = {{t0 + 1500, 's'}};
    run_result r = run(sim, {"440,3", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 3) + "#skip to next frequency in list\n" + tone_line(550, 1));
    ASSERT_EQ(sim.audio.outputs.size(), 2u);
    EXPECT_EQ(sim.audio.outputs[0].closed_ms, t0 + 1500);
    EXPECT_EQ(sim.audio.outputs[0].frames_played, 3 * frames_per_second / 2);
    EXPECT_EQ(sim.audio.outputs[1].opened_ms, t0 + 1500);
}

TEST(keys_run, quit_ends_the_run_with_status_zero) {
    sim_platform sim;
    sim.keys.script = {{t0 + 1500, 'q'}};
    run_result r = run(sim, {"440,3", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 3));
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.outputs[0].closed_ms, t0 + 1500);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_GE(sim.keys.restores, 1);
}

TEST(keys_run, pause_moves_the_end_of_the_tone_by_its_length) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 1000, 'p'}, {t0 + 6000, 'x'}};
    run_result r = run(sim, {"440,2", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 2) + "#pause\n" + tone_line(550, 1));
    ASSERT_EQ(sim.audio.outputs.size(), 2u);
    // 2 s of tone, 5 s of pause, up to one second of clock slack.
    int64_t length = open_ms(sim.audio.outputs[0]);
    EXPECT_GE(length, 7000);
    EXPECT_LE(length, 8050);
    // The queued seconds play out and the device then runs dry.
    EXPECT_GT(sim.audio.outputs[0].underrun_frames, 0u);
}

TEST(keys_run, key_that_ends_a_pause_is_used_up) {
    for (int resume : {'q', 's', 'b', '+'}) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = {{t0 + 1000, 'p'}, {t0 + 3000, resume}};
        run_result r = run(sim, {"440,2", "550,1"});
        EXPECT_EQ(r.status, 0) << static_cast<char>(resume);
        EXPECT_EQ(r.out, header + tone_line(440, 2) + "#pause\n" + tone_line(550, 1)) << static_cast<char>(resume);
        ASSERT_EQ(sim.audio.outputs.size(), 2u) << static_cast<char>(resume);
        EXPECT_GE(open_ms(sim.audio.outputs[0]), 4000) << static_cast<char>(resume);
    }
}

TEST(keys_run, capitals_other_than_n_do_nothing) {
    sim_platform sim;
    sim.keys.script = {{t0 + 300, 'B'}, {t0 + 600, 'S'}, {t0 + 900, 'Q'}, {t0 + 1200, 'P'}, {t0 + 1500, 'x'}};
    run_result r = run(sim, {"440,2", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 2) + tone_line(550, 1));
    ASSERT_EQ(sim.audio.outputs.size(), 2u);
    EXPECT_EQ(sim.audio.outputs[0].closed_ms, t0 + 3000);
    EXPECT_EQ(sim.audio.outputs[0].underrun_frames, 0u);
}

TEST(keys_run, back_during_the_steady_part_still_plays_the_pulsed_part) {
    sim_platform sim;
    // 300 Hz pulsed for 1 s (t0..t0+2000); 440 steady for 3 s from t0+2000.
    sim.keys.script = {{t0 + 3000, 'b'}};
    run_result r = run(sim, {"-p", "10,5", "300,1", "440,8"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(300, 1) + tone_line(440, 8) + "#back to previous frequency\n" +
                         tone_line(300, 1) + tone_line(440, 8));
    ASSERT_EQ(sim.audio.outputs.size(), 6u);
    const auto& outputs = sim.audio.outputs;
    EXPECT_EQ(outputs[1].frames_played, frames_per_second);  // steady part cut by the key
    EXPECT_GE(outputs[2].frames_played, 5 * frames_per_second);  // pulsed part in full
    // Pulsed: frames 2205..4409 of its first second are silent.
    ASSERT_GE(outputs[2].samples.size(), 2u * 4410);
    for (size_t k = 2 * 2205; k < 2 * 4410; ++k) ASSERT_EQ(outputs[2].samples[k], 0) << k;
    EXPECT_GE(outputs[4].frames_played, 3 * frames_per_second);
    EXPECT_GE(outputs[5].frames_played, 5 * frames_per_second);
}

TEST(keys_run, second_back_in_the_pulsed_part_never_walks_below_the_start) {
    sim_platform sim;
    sim.keys.script = {{t0 + 3000, 'b'}, {t0 + 4000, 'b'}};
    run_result r = run(sim, {"-p", "10,5", "300,1", "440,8"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(300, 1) + tone_line(440, 8) + "#back to previous frequency\n" +
                         tone_line(300, 1) + tone_line(440, 8));
    ASSERT_EQ(sim.audio.outputs.size(), 6u);
    EXPECT_EQ(sim.audio.outputs[2].closed_ms, t0 + 4000);
}

TEST(keys_run, console_read_failure_ends_the_run) {
    sim_platform sim;
    sim.keys.read_fails_at_ms = t0 + 1000;
    run_result r = run(sim, {"440,3", "550,1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, header + tone_line(440, 3));
    EXPECT_EQ(r.err, "tonquel: ReadConsoleInput() failed\n");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.outputs[0].closed_ms, t0 + 1000);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_GE(sim.keys.restores, 1);
}

TEST(keys_run, a_console_without_an_input_handle_ends_the_run_at_the_first_poll) {
    sim_platform sim;
    sim.keys.console_missing = true;
    run_result r = run(sim, {"440,3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tonquel: GetStdHandle() failed\n");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.outputs[0].closed_ms, t0 + 50);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
}

TEST(keys_run, interrupt_during_a_tone_ends_the_run_with_status_zero) {
    sim_platform sim;
    sim.raise_signal_at(t0 + 1520, SIGINT);
    run_result r = run(sim, {"440,3", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 3));
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_GE(sim.audio.outputs[0].closed_ms, t0 + 1520);
    EXPECT_LE(sim.audio.outputs[0].closed_ms, t0 + 1550);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_GE(sim.keys.restores, 1);
}

TEST(keys_run, interrupt_during_a_pause_ends_the_run) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 1000, 'p'}};
    sim.raise_signal_at(t0 + 4000, SIGINT);
    run_result r = run(sim, {"440,2", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + tone_line(440, 2) + "#pause\n");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_LE(sim.audio.outputs[0].closed_ms, t0 + 4050);
}

}  // namespace
