// Whole runs by the local clock of the simulated zone: --at waits for a time
// of day, --until stops at one, --loop plays the schedule again. Virtual
// time starts at 22:13:20 UTC, so a night costs a fraction of a second.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "support/expected_text.h"
#include "support/run_harness.h"

namespace {

using tq_test::run;
constexpr int64_t t0 = sim_platform::start_ms;
constexpr int64_t t0_second = t0 / 1000;
const std::string header = "#Frequency, Duration\n";

std::string session_file() {
    const std::vector<std::string> names = tq_test::files_starting_with("session_");
    return names.size() == 1 ? tq_test::read_file(names[0]) : "";
}

TEST(overnight_run, at_follows_the_local_clock_through_midnight_settings_and_summer_time) {
    struct case_ {
        const char* at;
        int offset_seconds;
        std::vector<sim_zone_change> zone;
        std::vector<sim_clock_setting> settings;
        int64_t start_second;  // after t0
        std::string lines;
    } cases[] = {
        {"--at=00:30", 0, {}, {}, 8200, "# waiting to start at 00:30:00, in 2:16:40\n# started at 00:30:00\n"},
        {"--at=22:00", 0, {}, {{t0 + 600000, -3600}}, 2800,
         "# waiting to start at 22:00:00, in 23:46:40\n# started at 22:00:00\n"},
        {"--at=23:00", 0, {}, {{t0 + 600000, 3600}}, 600,
         "# waiting to start at 23:00:00, in 46:40\n# started at 23:23:20, 23:20 late for 23:00:00\n"},
        // Summer time begins at 02:00 local, which becomes 03:00, where a
        // start at 02:30 comes: 3:46:40 away.
        {"--at=2:30", 0, {{t0_second + 13600, 3600, true}}, {}, 13600,
         "# waiting to start at 02:30:00, in 3:46:40\n# started at 03:00:00\n"},
        // Summer time ends at 03:00 local, which becomes 02:00 again.
        {"--at=02:30", 3600, {{t0_second + 13600, 0, false}}, {}, 11800,
         "# waiting to start at 02:30:00, in 3:16:40\n# started at 02:30:00\n"},
        // Both changes ten seconds ahead: at 01:59:50, 02:30 comes where the
        // clock lands, at 03:00; at 02:59:50 summer time, 02:00:05 is 15 s
        // away, the second time the clock shows it.
        {"--at=02:30", 13590, {{t0_second + 10, 13590 + 3600, true}}, {}, 10,
         "# waiting to start at 02:30:00, in 0:10\n# started at 03:00:00\n"},
        {"--at=02:00:05", 17190, {{t0_second + 10, 17190 - 3600, false}}, {}, 15,
         "# waiting to start at 02:00:05, in 0:15\n# started at 02:00:05\n"},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.clock.offset_seconds = c.offset_seconds;
        sim.clock.zone_changes = c.zone;
        sim.clock.settings = c.settings;
        EXPECT_EQ(run(sim, {"-r", c.at, "440,1"}).status, 0) << c.at;
        EXPECT_EQ(session_file(), header + c.lines + "  440, 1\n") << c.at;
        ASSERT_EQ(sim.audio.outputs.size(), 1u) << c.at;
        EXPECT_GE(sim.audio.outputs[0].opened_ms, t0 + 1000 * c.start_second) << c.at;
        EXPECT_LT(sim.audio.outputs[0].opened_ms, t0 + 1000 * c.start_second + 100) << c.at;
    }
}

// The zone puts t0 at 00:59:50 local, ten seconds before --at=01:00.
constexpr int before_one = 9990;

TEST(overnight_run, a_start_too_late_for_its_window_or_by_half_a_day_waits_for_the_next_one) {
    constexpr int64_t day = 86400;
    // The calendar clock from 2000-01-01 00:59:50 UTC, put right at t0 + 5 s.
    constexpr int64_t y2000 = 946688390 - t0_second;
    const std::string missed_window =
        "tonquel: the window from 01:00:00 to 02:00:00 had closed when the run could start, at ";
    struct case_ {
        const char* name;
        std::vector<std::string> args;
        int offset_seconds;
        std::vector<sim_clock_setting> settings;
        int hold_ms;  // the process held from t0 + 5 s
        std::string err;
        int64_t start_ms;  // -1: q ends the wait at t0 + 6 s past the hold
        int64_t stop_ms;
    } cases[] = {
        {"clock stepped a day on", {"--until=02:00"}, before_one, {{t0 + 5000, day}}, 0,
         missed_window + "2023-11-16 00:59:55: it starts with the next one, at 01:00:00, in 0:05\n", t0 + 10000,
         t0 + 3610000},
        {"held past --until", {"--until=02:00"}, before_one, {}, 7200000,
         missed_window + "2023-11-15 02:59:55: it starts with the next one, at 01:00:00, in 22:00:05\n", -1, -1},
        {"held into the window", {"--until=02:00"}, before_one, {}, 1800000, "", t0 + 1805000, t0 + 3610000},
        {"clock set from 2000", {"--until=02:00"}, 0, {{0, y2000}, {t0 + 5000, -y2000}}, 0,
         missed_window + "2023-11-14 22:13:25: it starts with the next one, at 01:00:00, in 2:46:35\n", -1, -1},
        {"clock set from 2000, no --until", {}, 0, {{0, y2000}, {t0 + 5000, -y2000}}, 0,
         "tonquel: 209253:13:25 late for 01:00:00 when the run could start, at 2023-11-14 22:13:25: it starts at the next "
         "day's 01:00:00, in 2:46:35\n",
         -1, -1},
        {"held half a day and more", {}, before_one, {}, 13 * 3600000,
         "tonquel: 12:59:55 late for 01:00:00 when the run could start, at 2023-11-15 13:59:55: it starts at the next day's "
         "01:00:00, in 11:00:05\n",
         -1, -1},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.clock.offset_seconds = c.offset_seconds;
        sim.clock.settings = c.settings;
        if (c.hold_ms > 0) sim.hold_up = {t0 + 5000, c.hold_ms};
        if (c.start_ms < 0) sim.keys.script = {{t0 + c.hold_ms + 6000, 'q'}};
        std::vector<std::string> args = {"-r", "--at=01:00", "--loop"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("440,20m");
        const tq_test::run_output r = run(sim, args);
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        // The record says it behind "#", as every warning.
        if (!c.err.empty()) {
            EXPECT_NE(session_file().find("\n#" + c.err), std::string::npos) << c.name;
        }
        if (c.start_ms < 0) {
            EXPECT_TRUE(sim.audio.outputs.empty()) << c.name;
            continue;
        }
        ASSERT_FALSE(sim.audio.outputs.empty()) << c.name;
        EXPECT_LE(std::llabs(sim.audio.outputs.front().opened_ms - c.start_ms), 1000) << c.name;
        // Only what is left of the window plays.
        EXPECT_LE(std::llabs(sim.audio.outputs.back().closed_ms - c.stop_ms), 1100) << c.name;
        EXPECT_TRUE(session_file().ends_with("# stopped at 02:00:00, as --until asked\n")) << c.name;
    }
}

TEST(overnight_run, the_wait_counts_down_keeps_the_machine_awake_and_ends_on_q_or_ctrl_c) {
    for (const bool allow_sleep : {false, true}) {
        sim_platform sim;
        sim.status_line.is_terminal = true;
        if (allow_sleep)
            sim.raise_signal_at(t0 + 3600000, SIGINT);
        else
            sim.keys.script = {{t0 + 3600000, 'q'}};
        std::vector<std::string> args = {"--at=00:30", "440,1"};
        if (allow_sleep) args.insert(args.begin(), "--allow-sleep");
        EXPECT_EQ(run(sim, args).status, 0);
        EXPECT_TRUE(sim.audio.outputs.empty());
        EXPECT_LT(sim.now_ms(), t0 + 3600100);
        EXPECT_EQ(sim.sleep.holds, allow_sleep ? 0 : 1);
        EXPECT_EQ(sim.status_line.events.at(0).text, "starts 00:30:00, in 2:16:40");
    }
}

TEST(overnight_run, until_stops_the_playing_tone_and_the_schedule_with_the_records_complete) {
    struct case_ {
        std::vector<std::string> args;
        std::vector<sim_key> keys;
        int64_t played_ms;
    } cases[] = {
        {{"--until=22:13:30", "440,60", "550,5"}, {}, 10000},
        {{"--until=22:13:30", "440,60", "550,5"}, {{t0 + 2000, 'p'}, {t0 + 20000, 'x'}}, 10000},
        {{"-p", "10,30", "--until=22:13:30", "440,60", "550,5"}, {}, 10000},
        // Watched from the first tone on, after its second: tomorrow's.
        {{"--at=22:13:30", "--until=22:13:30", "440,5"}, {}, 5000},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = c.keys;
        std::vector<std::string> args = {"-r", "-m", "mor.txt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run(sim, args).status, 0) << c.args[1];
        ASSERT_EQ(sim.audio.outputs.size(), 1u) << c.args[1];
        const int64_t played = sim.audio.outputs[0].closed_ms - sim.audio.outputs[0].opened_ms;
        EXPECT_GE(played, c.played_ms) << c.args[1];
        EXPECT_LE(played, c.played_ms + 1100) << c.args[1];
        const std::string stopped = "# stopped at 22:13:30, as --until asked\n";
        EXPECT_EQ(session_file().ends_with(stopped), c.played_ms == 10000) << c.args[1];
        // The stopped tone's capture is in the MOR file, to its end.
        const std::string last_frame = "440 " + std::to_string(c.played_ms - 1) + " 0 0\n";
        EXPECT_NE(tq_test::read_file("mor.txt").find(last_frame), std::string::npos) << c.args[1];
    }
}

// A tone cut by --until was recorded at its full length, so that the record
// replayed more than was heard: it now holds the whole seconds it sounded,
// written over the tone line in place, and none, a comment, when it was cut
// before its first second.
TEST(overnight_run, the_record_of_a_tone_cut_by_until_replays_what_was_heard) {
    const struct {
        std::vector<std::string> args;
        std::vector<sim_key> keys;
        std::string tones;  // the record's lines after the header
    } cases[] = {
        {{"--smooth", "--loop", "--until=22:13:27", "440,3", "550,3"}, {},
         "  440, 3\n  550, 3\n# pass 2\n  440, 1\n# stopped at 22:13:27, as --until asked\n"},
        // Classic tones run up to a second long each.
        {{"--loop", "--until=22:13:30", "440,3", "550,3"}, {},
         "  440, 3\n  550, 3\n# pass 2\n  440, 2\n# stopped at 22:13:30, as --until asked\n"},
        // The stop falls at the end of the first pass, frame for frame: the
        // second never begins.
        {{"--smooth", "--loop", "--until=22:13:26", "440,3", "550,3"}, {},
         "  440, 3\n  550, 3\n# stopped at 22:13:26, as --until asked\n"},
        {{"-p", "10,2", "--until=22:13:24", "440,5"}, {}, "  440, 3\n# stopped at 22:13:24, as --until asked\n"},
        {{"--until=22:13:30", "440,180"}, {{t0 + 2000, 'p'}, {t0 + 5000, 'x'}},
         "    440, 7\n#pause\n# stopped at 22:13:30, as --until asked\n"},
        {{"--smooth", "--until=22:13:30", "440,180"}, {{t0 + 2000, 'p'}, {t0 + 5000, 'x'}},
         "    440, 7\n#pause\n# stopped at 22:13:30, as --until asked\n"},
    };
    for (const auto& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = c.keys;
        std::vector<std::string> args = {"-r"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run(sim, args).status, 0) << c.tones;
        EXPECT_EQ(session_file(), header + c.tones) << c.args[0];
    }
}

TEST(overnight_run, loop_plays_again_with_the_tones_keys_added_until_until_a_silent_schedule_once) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 500, '+'}};
    EXPECT_EQ(run(sim, {"--loop=3", "440,1", "550,1"}).out,
              header + "  440, 1\n# added 441, 180\n  441, 180\n  550, 1\n# pass 2 of 3\n  440, 1\n  441, 180\n"
                       "  550, 1\n# pass 3 of 3\n  440, 1\n  441, 180\n  550, 1\n");
    EXPECT_EQ(run({"--loop", "--until=22:13:32", "440,4"}).out,
              header + "  440, 4\n# pass 2\n  440, 4\n# pass 3\n  440, 4\n# stopped at 22:13:32, as --until asked\n");
    for (const char* loop : {"--loop", "--loop=5"}) EXPECT_EQ(run({loop, "440,-1"}).out, header + "  440, -1\n");
    // An export writes every pass, and says so in the file's header.
    sim_platform export_sim;
    EXPECT_EQ(run(export_sim, {"--loop=3", "--output", "x.wav", "440,1"}).status, 0);
    EXPECT_EQ(export_sim.sound_writer.files.at(0).expected_frames, 3u * 44100);
    EXPECT_EQ(export_sim.sound_writer.files.at(0).frames, 3u * 44100);
}

TEST(overnight_run, smooth_runs_wait_loop_and_stop_as_the_others_do) {
    sim_platform sim;
    EXPECT_EQ(run(sim, {"--smooth", "--at=22:13:30", "--loop=2", "440,1", "550,1"}).out,
              header + "# waiting to start at 22:13:30, in 0:10\n# started at 22:13:30\n  440, 1\n  550, 1\n"
                       "# pass 2 of 2\n  440, 1\n  550, 1\n");
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.outputs[0].opened_ms, t0 + 10000);
    EXPECT_EQ(sim.audio.outputs[0].frames_played, 4u * 44100);
    sim_platform stopped;
    stopped.audio.record_samples = false;
    EXPECT_EQ(run(stopped, {"--smooth", "--loop", "--until=22:13:30", "440,4"}).out,
              header + "  440, 4\n# pass 2\n  440, 4\n# pass 3\n  440, 4\n# stopped at 22:13:30, as --until asked\n");
    EXPECT_LT(stopped.audio.outputs.at(0).frames_played, 10u * 44100 + 44100 / 2);
    // The time comes while the device is away.
    sim_platform away;
    away.audio.record_samples = false;
    away.audio.outage = {t0 + 2000, -1, 5};
    EXPECT_EQ(run(away, {"--smooth", "--wait-for-device=60", "--until=22:13:30", "440,20"}).status, 0);
    EXPECT_LT(away.now_ms(), t0 + 11000);
}

TEST(overnight_run, bad_values_and_clock_options_with_output_are_usage_errors_before_anything_is_created) {
    const std::string off_the_clock =
        "not with --at, --until or --loop without a count: an export runs off the clock";
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"-r", "--at=25:00"}, "--at=25:00: not a time of day (HH:MM or HH:MM:SS)"},
        {{"-r", "--until=7"}, "--until=7: not a time of day (HH:MM or HH:MM:SS)"},
        {{"-r", "--loop=0"}, "--loop=0: not a number of passes (1 or more)"},
        {{"-r", "--loop=x"}, "--loop=x: not a number of passes (1 or more)"},
        {{"-r", "--loop="}, "--loop=: not a number of passes (1 or more)"},
        {{"-r", "--loop", "99999999999"}, "--loop 99999999999: not a number of passes (1 or more)"},
        {{"-r", "--at"}, "--at 440,1: not a time of day (HH:MM or HH:MM:SS)"},
        {{"-r", "--at=7:60"}, "--at=7:60: not a time of day (HH:MM or HH:MM:SS)"},
        {{"--at=23:00", "--output", "x.wav"}, "--output x.wav: " + off_the_clock},
        {{"--output", "x.wav", "--loop"}, "--output x.wav: " + off_the_clock},
        {{"--output", "x.wav", "--until=07:00"}, "--output x.wav: " + off_the_clock},
        {{"-r", "--fade-out=20m", "--loop"},
         "--fade-out=20m: an endless --loop has no end to fall to: give --loop=N or --until"},
        {{"--smoth"}, "--smoth: not an option (tonquel --help lists them)"},
        {{"--fade=abc"}, "--fade=abc: not a whole number of milliseconds from 0 to 1000"},
    };
    for (const auto& c : cases) {
        tq_test::temp_dir dir;
        std::vector<std::string> args = c.args;
        args.push_back("440,1");
        const tq_test::run_output r = run(args);
        EXPECT_EQ(r.status, 2) << c.line;
        EXPECT_EQ(r.err, "tonquel: " + c.line + "\n" + tq_test::version_block + tq_test::usage_text);
        EXPECT_TRUE(tq_test::files_starting_with("session_").empty()) << c.line;
    }
}

TEST(overnight_run, a_whole_number_after_loop_is_its_count_either_way_it_is_written) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--loop", "2", "440,1"}, {"--loop=2", "440,1"}, {"--loop", "2", "--smooth", "440,1"}}) {
        sim_platform sim;
        sim.audio.record_samples = false;
        const tq_test::run_output r = run(sim, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, header + "  440, 1\n# pass 2 of 2\n  440, 1\n") << args[1];
    }
    // Not a whole number: a tone, and the loop has no count.
    EXPECT_EQ(run({"--loop", "--until=22:13:23", "440,1"}).out,
              header + "  440, 1\n# pass 2\n  440, 1\n# stopped at 22:13:23, as --until asked\n");
}

}  // namespace
