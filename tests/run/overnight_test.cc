// Whole runs by the local clock of the simulated zone: --at waits for a time
// of day, --until stops at one, --loop plays the schedule again. Virtual
// time starts at 22:13:20 UTC, so a night costs a fraction of a second.

#include <gtest/gtest.h>

#include <csignal>
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

std::string only_session_file() {
    const std::vector<std::string> names = tq_test::files_starting_with("session_");
    return names.size() == 1 ? tq_test::read_file(names[0]) : "";
}

TEST(overnight_run, at_follows_the_local_clock_through_midnight_settings_and_summer_time) {
    struct case_ {
        const char* name;
        const char* at;
        int offset_seconds;
        std::vector<sim_zone_change> zone;
        std::vector<sim_clock_setting> settings;
        int64_t start_after_seconds;
        std::string lines;
    } cases[] = {
        {"tomorrow", "--at=00:30", 0, {}, {}, 8200,
         "# waiting to start at 00:30:00, in 2:16:40\n# started at 00:30:00\n"},
        {"set back over it", "--at=22:00", 0, {}, {{t0 + 600000, -3600}}, 2800,
         "# waiting to start at 22:00:00, in 23:46:40\n# started at 22:00:00\n"},
        {"set past it", "--at=23:00", 0, {}, {{t0 + 600000, 3600}}, 600,
         "# waiting to start at 23:00:00, in 46:40\n# started at 23:23:20, 23:20 late for 23:00:00\n"},
        // Summer time begins at 02:00 local, which becomes 03:00.
        {"skipped hour", "--at=2:30", 0, {{t0_second + 13600, 3600, true}}, {}, 13600,
         "# waiting to start at 02:30:00, in 3:16:40\n# started at 03:00:00\n"},
        {"short night", "--at=04:00", 0, {{t0_second + 13600, 3600, true}}, {}, 17200,
         "# waiting to start at 04:00:00, in 4:46:40\n# started at 04:00:00\n"},
        // Summer time ends at 03:00 local, which becomes 02:00 again.
        {"hour twice", "--at=02:30", 3600, {{t0_second + 13600, 0, false}}, {}, 11800,
         "# waiting to start at 02:30:00, in 3:16:40\n# started at 02:30:00\n"},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.clock.offset_seconds = c.offset_seconds;
        sim.clock.zone_changes = c.zone;
        sim.clock.settings = c.settings;
        const tq_test::run_output r = run(sim, {"-r", c.at, "440,1"});
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(only_session_file(), header + c.lines + "  440, 1\n") << c.name;
        ASSERT_EQ(sim.audio.outputs.size(), 1u) << c.name;
        EXPECT_GE(sim.audio.outputs[0].opened_ms, t0 + 1000 * c.start_after_seconds) << c.name;
        EXPECT_LT(sim.audio.outputs[0].opened_ms, t0 + 1000 * c.start_after_seconds + 100) << c.name;
    }
}

TEST(overnight_run, the_wait_counts_down_keeps_the_machine_awake_and_ends_on_q_or_ctrl_c) {
    struct case_ {
        std::vector<std::string> args;
        bool ctrl_c;
        int holds;
    } cases[] = {
        {{"--at=00:30", "440,1"}, false, 1},
        {{"--at=00:30", "440,1"}, true, 1},
        {{"--allow-sleep", "--at=00:30", "440,1"}, false, 0},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        sim.status_line.is_terminal = true;
        if (c.ctrl_c)
            sim.raise_signal_at(t0 + 3600000, SIGINT);
        else
            sim.keys.script = {{t0 + 3600000, 'q'}};
        const tq_test::run_output r = run(sim, c.args);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(sim.audio.outputs.empty());
        EXPECT_LT(sim.now_ms(), t0 + 3600100);
        EXPECT_EQ(sim.sleep.holds, c.holds);
        ASSERT_FALSE(sim.status_line.events.empty());
        EXPECT_EQ(sim.status_line.events[0].text, "starts 00:30:00, in 2:16:40");
        EXPECT_EQ(sim.status_line.events.back().text, "");
    }
}

TEST(overnight_run, until_stops_the_playing_tone_and_the_schedule_with_the_records_complete) {
    struct case_ {
        const char* name;
        std::vector<std::string> args;
        std::vector<sim_key> keys;
        int64_t played_ms;
    } cases[] = {
        {"mid-tone", {"--until=22:13:30", "440,60", "550,5"}, {}, 10000},
        {"paused", {"--until=22:13:30", "440,60", "550,5"}, {{t0 + 2000, 'p'}, {t0 + 20000, 'x'}}, 10000},
        {"before the pulsed tail", {"-p", "10,30", "--until=22:13:30", "440,60", "550,5"}, {}, 10000},
        // Watched from the first tone on, after its second: tomorrow's.
        {"after the start", {"--at=22:13:30", "--until=22:13:30", "440,5"}, {}, 5000},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.script = c.keys;
        std::vector<std::string> args = {"-r", "-m", "mor.txt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const tq_test::run_output r = run(sim, args);
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        ASSERT_EQ(sim.audio.outputs.size(), 1u) << c.name;
        const int64_t played = sim.audio.outputs[0].closed_ms - sim.audio.outputs[0].opened_ms;
        EXPECT_GE(played, c.played_ms) << c.name;
        EXPECT_LE(played, c.played_ms + 1100) << c.name;
        const std::string stopped = "# stopped at 22:13:30, as --until asked\n";
        const bool stops = c.played_ms == 10000;
        EXPECT_EQ(r.out.size() >= stopped.size() && r.out.substr(r.out.size() - stopped.size()) == stopped, stops)
            << c.name << r.out;
        EXPECT_EQ(only_session_file().find(stopped) != std::string::npos, stops) << c.name;
        // The stopped tone's capture is in the MOR file, to its end.
        const std::string last_frame = "440 " + std::to_string(c.played_ms - 1) + " 0 0\n";
        EXPECT_NE(tq_test::read_file("mor.txt").find(last_frame), std::string::npos) << c.name;
    }
}

TEST(overnight_run, loop_plays_again_with_the_tones_keys_added_and_stops_on_until) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 500, '+'}};
    tq_test::run_output r = run(sim, {"--loop=3", "440,1", "550,1"});
    EXPECT_EQ(r.status, 0);
    const std::string pass = "  440, 1\n  441, 180\n  550, 1\n";
    EXPECT_EQ(r.out, header + "  440, 1\n# added 441, 180\n  441, 180\n  550, 1\n# pass 2 of 3\n" + pass +
                         "# pass 3 of 3\n" + pass);

    sim_platform forever;
    forever.audio.record_samples = false;
    r = run(forever, {"--loop", "--until=22:13:32", "440,4"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, header + "  440, 4\n# pass 2\n  440, 4\n# pass 3\n  440, 4\n"
                              "# stopped at 22:13:32, as --until asked\n");
}

TEST(overnight_run, silent_schedules_play_once_and_an_export_writes_every_pass) {
    for (const char* loop : {"--loop", "--loop=5"}) {
        const tq_test::run_output r = run({loop, "440,-1"});
        EXPECT_EQ(r.out, header + "  440, -1\n") << loop;
    }
    sim_platform sim;
    const tq_test::run_output r = run(sim, {"--loop=3", "--output", "x.wav", "440,1"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(sim.sound_writer.files.size(), 1u);
    EXPECT_EQ(sim.sound_writer.files[0].expected_frames, 3u * 44100);
    EXPECT_EQ(sim.sound_writer.files[0].frames, 3u * 44100);
}

TEST(overnight_run, bad_values_and_clock_options_with_output_are_usage_errors_before_anything_is_created) {
    const std::vector<std::vector<std::string>> cases = {
        {"-r", "--at=25:00", "440,1"}, {"-r", "--until=7", "440,1"}, {"-r", "--loop=0", "440,1"},
        {"-r", "--loop=x", "440,1"},   {"-r", "--at", "440,1"},      {"-r", "--at=7:60", "440,1"},
        {"--at=23:00", "--output", "x.wav", "440,1"}, {"--output", "x.wav", "--loop", "440,1"},
        {"--output", "x.wav", "--until=07:00", "440,1"},
    };
    for (const std::vector<std::string>& args : cases) {
        tq_test::temp_dir dir;
        const tq_test::run_output r = run(args);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_EQ(r.err, tq_test::version_block + tq_test::usage_text) << args[1];
        EXPECT_TRUE(tq_test::files_starting_with("session_").empty()) << args[1];
    }
}

}  // namespace
