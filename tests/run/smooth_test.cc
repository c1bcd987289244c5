// Whole runs with --smooth on the simulated platform: one stream for the
// run, every tone exactly its frames, no gap and no click at a change, ramps
// where sound starts or stops, keys heard within a tenth of a second, the
// capture's blocks tone by tone, and an export equal to what was played.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#else
#include <process.h>
#define getpid _getpid
#endif

#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

using tq_test::run;
constexpr int64_t t0 = sim_platform::start_ms;
constexpr uint64_t second = 44100;

// The largest step between neighbouring samples of a channel (0 left, 1
// right) in frames [from, to).
int largest_step(const std::vector<int16_t>& samples, int channel, size_t from, size_t to) {
    int largest = 0;
    for (size_t i = from + 1; i < to; ++i)
        largest = std::max(largest, std::abs(samples[2 * i + channel] - samples[2 * (i - 1) + channel]));
    return largest;
}

// The frame of the first zero crossing upward at or after from, on the
// right channel.
size_t crossing_after(const std::vector<int16_t>& samples, size_t from) {
    for (size_t i = std::max<size_t>(from, 1); 2 * i + 1 < samples.size(); ++i)
        if (samples[2 * (i - 1) + 1] < 0 && samples[2 * i + 1] >= 0) return i;
    return samples.size() / 2;
}

// Frames to the next upward crossing: the period of the wave there.
size_t period_at(const std::vector<int16_t>& samples, size_t frame) {
    const size_t a = crossing_after(samples, frame);
    return crossing_after(samples, a + 1) - a;
}

// A run's frames end to end, one opening, no frame missing; the wave goes on
// across every change in every left-channel mode, steps no larger than the
// steady waves' own, and rises from silence and falls to it.
TEST(smooth_run, tones_follow_each_other_frame_exact_without_a_gap_or_a_click) {
    const std::vector<std::vector<std::string>> modes = {
        {}, {"-l=r"}, {"-l", "300"}, {"-P", "90"}, {"-e"}, {"-S"}, {"-T"}, {"-vl", "0.3", "-vr", "0.9"}, {"-p", "7,1"}};
    for (const std::vector<std::string>& mode : modes) {
        sim_platform sim;
        std::vector<std::string> args = mode;
        args.insert(args.begin(), "--smooth");
        for (const char* tone : {"440,1", "660,1", "10,1", "20,1", "880,1", "0,1", "550,1"}) args.push_back(tone);
        const tq_test::run_output r = run(sim, args);
        const std::string name = mode.empty() ? "default" : mode[0];
        ASSERT_EQ(r.status, 0) << name << r.err;
        ASSERT_EQ(sim.audio.outputs.size(), 1u) << name;
        const std::vector<int16_t>& played = sim.audio.outputs[0].samples;
        // -e admits no 0 Hz tone.
        const size_t tones = mode == std::vector<std::string>{"-e"} ? 6 : 7;
        ASSERT_EQ(played.size(), 2 * tones * second) << name;
        const std::vector<int16_t> steadiest = tq_test::rendered(880, 0, second);
        const std::vector<int16_t> lowest = tq_test::rendered(10, 0, second);
        for (int channel : {0, 1}) {
            // A square's own edges are its largest steps; its constant left
            // level rises and falls in 10 ms, by steps of up to 59.
            const int own = std::max(largest_step(steadiest, channel, 0, second), largest_step(lowest, channel, 0, second));
            EXPECT_LE(largest_step(played, channel, 0, tones * second), own + 64) << name << " channel " << channel;
        }
        // From silence and back to it.
        EXPECT_LE(std::abs(played[1]), 60) << name;
        EXPECT_LE(std::abs(played[played.size() - 1]), 60) << name;
    }
}

TEST(smooth_run, an_hour_of_tones_is_an_hour_of_frames) {
    sim_platform sim;
    sim.audio.record_samples = false;
    std::vector<std::string> args = {"--smooth"};
    for (int i = 0; i < 59; ++i) args.push_back(std::to_string(300 + i) + ",1m");
    for (int i = 0; i < 60; ++i) args.push_back(std::to_string(400 + i) + ",1");
    const tq_test::run_output r = run(sim, args);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.outputs[0].frames_played, 3600 * second);
    // The device never waited for sound, but for its last feed step.
    EXPECT_LE(sim.audio.outputs[0].underrun_frames, second / 100);
}

// The frames the stream hands the device, and the file --output writes with
// the same options, are the same samples, whatever the shape of the run.
TEST(smooth_run, the_export_holds_exactly_what_playback_gave_the_device) {
    const std::vector<std::vector<std::string>> runs = {
        {"--smooth", "440,3", "0,1", "660,2"},
        {"--fade=25", "-p", "10,2", "440,4", "550,3"},
        {"--fade-in=2", "--fade-out=3", "-l=r", "440,2", "660,3"},
        {"--fade=0", "-e", "10,1", "30000,1", "440,1"},
    };
    // Both depths of the queue: keys on a terminal, and the night alone.
    for (const bool terminal : {true, false})
    for (const std::vector<std::string>& args : runs) {
        sim_platform played;
        played.keys.terminal = terminal;
        ASSERT_EQ(run(played, args).status, 0) << args[0];
        std::vector<std::string> exporting = args;
        exporting.insert(exporting.begin(), {"--output", "x.wav"});
        sim_platform exported;
        const tq_test::run_output r = run(exported, exporting);
        ASSERT_EQ(r.status, 0) << args[0] << r.err;
        ASSERT_EQ(exported.sound_writer.files.size(), 1u);
        ASSERT_EQ(played.audio.outputs.size(), 1u);
        EXPECT_TRUE(exported.sound_writer.files[0].samples == played.audio.outputs[0].samples) << args[0];
        EXPECT_EQ(exported.sound_writer.files[0].frames, exported.sound_writer.files[0].expected_frames) << args[0];
    }
}

// Pause, resume, skip, back and added tones: each heard within the poll
// step and the queue (110 ms) of the key, as frames of the recording, keys
// falling anywhere in the poll step; the pause plays silence, and the tone
// keeps the frames it had.
TEST(smooth_run, keys_change_the_sound_within_the_poll_step_and_the_queue) {
    struct case_ {
        const char* name;
        std::vector<sim_key> keys;
        size_t period_after;  // frames of a period of what sounds 100 ms after the last key
        uint64_t frames_after_key;  // what plays from the last key on, but for its 100 ms
    } cases[] = {
        {"skip", {{t0 + 1201, 's'}}, 50, 2 * second},
        {"back", {{t0 + 2300, 's'}, {t0 + 2611, 'b'}}, 100, 5 * second},
        {"added", {{t0 + 500, '+'}, {t0 + 833, 's'}}, 100, 180 * second + 2 * second},
        {"pause", {{t0 + 1044, 'p'}, {t0 + 2022, 'x'}}, 0, 4 * second},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        sim.keys.script = c.keys;
        const tq_test::run_output r = run(sim, {"--smooth", "441,3", "882,2"});
        ASSERT_EQ(r.status, 0) << c.name << r.err;
        ASSERT_EQ(sim.audio.outputs.size(), 1u) << c.name;
        const std::vector<int16_t>& played = sim.audio.outputs[0].samples;
        const size_t key_frame = static_cast<size_t>((c.keys.back().at_ms - sim.audio.outputs[0].opened_ms) * 44100 / 1000);
        const size_t heard = key_frame + 110 * second / 1000;
        if (c.period_after != 0) {
            EXPECT_EQ(period_at(played, heard), c.period_after) << c.name;
        } else {
            // The pause: silence from 100 ms after it until the key.
            const size_t paused = static_cast<size_t>((c.keys[0].at_ms - sim.audio.outputs[0].opened_ms) * 44100 / 1000) +
                                  110 * second / 1000;
            EXPECT_EQ(largest_step(played, 1, paused, key_frame), 0) << c.name;
            EXPECT_GT(largest_step(played, 1, heard, heard + 441), 0) << c.name << ": not heard again";
        }
        // The tone the key cut short plays no more than 110 ms after it; a
        // paused one keeps all its frames, within as much.
        EXPECT_GE(played.size() / 2 + 110 * second / 1000, key_frame + c.frames_after_key) << c.name;
        EXPECT_LE(played.size() / 2, key_frame + c.frames_after_key + 110 * second / 1000) << c.name;
    }
}

// The player sleeps until something needs it: over a minute, a wake-up per
// block that comes back, and a key or a client when one comes; the queue as
// deep as the run allows; the fall at Ctrl-C within a second and a half at
// the deepest.
TEST(smooth_run, the_player_wakes_only_for_what_needs_it_with_the_queue_the_run_allows) {
    struct case_ {
        const char* name;
        bool terminal;
        bool control;
        int64_t most_wakeups;  // in the minute
        uint64_t queued_ms;
        bool device_clock = true;
    } cases[] = {
        {"unattended", false, false, 160 + 8, 1500},
        {"keys", true, false, 1334 + 8, 90},
        // WinMM's blocks come back only after they played: shorter ones.
        {"keys, no device clock", true, false, 2000 + 8, 90, false},
        {"control", false, true, 1334 + 8, 90},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.keys.terminal = c.terminal;
        sim.audio.keeps_clock = c.device_clock;
        std::vector<std::string> args{"--smooth", "440,60"};
        if (c.control) args.insert(args.begin(), "--control=tonquel-test-wakeups-" + std::to_string(getpid()));
        ASSERT_EQ(run(sim, args).status, 0) << c.name;
        EXPECT_LE(sim.wakeups, c.most_wakeups) << c.name;
        EXPECT_GE(sim.wakeups, c.most_wakeups * 9 / 10) << c.name;
        EXPECT_NEAR(static_cast<double>(sim.audio.outputs[0].most_queued_frames), static_cast<double>(c.queued_ms) * 44.1, 4) << c.name;
        EXPECT_EQ(sim.audio.outputs[0].underrun_frames, 0u) << c.name;

        sim_platform stopped;
        stopped.audio.record_samples = false;
        stopped.keys.terminal = c.terminal;
        stopped.raise_signal_at(t0 + 10000, 2);
        ASSERT_EQ(run(stopped, {"--smooth", "440,60"}).status, 0) << c.name;
        EXPECT_LE(stopped.now_ms(), t0 + 10000 + 1500) << c.name;
    }
}

TEST(smooth_run, quit_and_ctrl_c_fall_silent_and_end_as_always) {
    for (int way = 0; way < 2; ++way) {
        tq_test::temp_dir dir;
        sim_platform sim;
        if (way == 0) sim.keys.script = {{t0 + 1500, 'q'}};
        else sim.raise_signal_at(t0 + 1500, 2);
        const tq_test::run_output r = run(sim, {"--smooth", "-r", "440,5", "550,5"});
        EXPECT_EQ(r.status, 0) << way;
        ASSERT_EQ(sim.audio.outputs.size(), 1u);
        const std::vector<int16_t>& played = sim.audio.outputs[0].samples;
        // Some 1.5 s, then the fall of 10 ms to silence.
        EXPECT_NEAR(static_cast<double>(played.size() / 2), 1.5 * second, 0.1 * second) << way;
        EXPECT_LE(std::abs(played[played.size() - 1]), 60) << way;
        const std::string lines = "#Frequency, Duration\n  440, 5\n";
        EXPECT_EQ(r.out.substr(r.out.size() - lines.size()), lines) << way;
        EXPECT_EQ(sim.audio.open_output_devices, 0);
    }
}

// Each tone's block holds the input from its first frame to its last, as
// many lines as the tone has milliseconds, numbered from 0, at most 10000.
// A last tone that ends with a block's end (3 s in all) once kept taking
// input until the run's catch-up ran out.
TEST(smooth_run, each_tone_gets_its_own_milliseconds_of_input) {
    struct row {
        std::vector<std::string> tones;
        std::vector<size_t> lines;
    };
    const std::vector<row> rows{
        {{"440,3", "770,-1", "550,2", "660,12"}, {3000, 2000, 10000}},
        {{"440,2", "660,1"}, {2000, 1000}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.tones.front() + " ... " + r.tones.back());
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.audio.record_samples = false;
        // Each frame tells the millisecond it was recorded at.
        sim.audio.input_signal = [](int64_t ms) {
            return std::pair<int16_t, int16_t>{static_cast<int16_t>((ms - t0) % 30000), 0};
        };
        std::vector<std::string> args{"--smooth", "-m", "mor.txt"};
        args.insert(args.end(), r.tones.begin(), r.tones.end());
        const tq_test::run_output out = run(sim, args);
        ASSERT_EQ(out.status, 0) << out.err;
        EXPECT_EQ(sim.audio.inputs.size(), 1u);
        std::istringstream lines(tq_test::read_file("mor.txt"));
        std::vector<std::pair<double, std::vector<int>>> blocks;
        double frequency;
        int number, left, right;
        while (lines >> frequency >> number >> left >> right) {
            if (number == 0) blocks.push_back({frequency, {}});
            ASSERT_FALSE(blocks.empty());
            ASSERT_EQ(number, static_cast<int>(blocks.back().second.size()));
            blocks.back().second.push_back(left);
        }
        ASSERT_EQ(blocks.size(), r.lines.size());
        for (size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i].second.size(), r.lines[i]) << "block " << i;
            // The blocks follow one another in the input, as the tones do.
            if (i > 0) {
                EXPECT_NEAR(blocks[i].second.front() - blocks[i - 1].second.front(),
                            static_cast<int>(r.lines[i - 1]), 2);
            }
        }
    }
}

// Each underrun is told, once the device plays again, and only then: a
// device lost says so instead, and a pause or a deep queue is no underrun.
// Once only the first was told, and none that the device itself reported.
TEST(smooth_run, every_underrun_is_told_and_only_those) {
    struct row {
        const char* what;
        std::vector<sim_platform::hold_up_times> hold_ups;
        std::vector<int64_t> device_underruns;
        bool lost = false;
        bool on_terminal = true;  // false: no key can come, the queue is deep
        size_t told;
        const char* why = "";  // the reason told
    };
    // Fed late, the machine was too busy; fed in time, the device stopped.
    const char* busy = "too busy";
    const char* stopped = "stopped taking sound";
    const std::vector<row> rows{
        {"held up twice", {{t0 + 1500, 300}, {t0 + 3500, 300}}, {}, false, true, 2, busy},
        {"the device ran dry twice", {}, {t0 + 2000, t0 + 4000}, false, true, 2, stopped},
        {"the queue and the device at once", {{t0 + 1500, 300}}, {t0 + 1600}, false, true, 1, busy},
        {"held up, a deep queue", {{t0 + 1500, 300}}, {}, false, false, 0},
        {"lost", {}, {}, true, true, 0},
    };
    const std::string ran_out = "the sound ran out";
    for (const row& r : rows) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.hold_ups = r.hold_ups;
        sim.audio.underruns_at_ms = r.device_underruns;
        sim.keys.terminal = r.on_terminal;
        if (r.lost) sim.audio.outage = {t0 + 2000, -1, 5};
        const tq_test::run_output out = run(sim, {"--smooth", "440,6"});
        EXPECT_EQ(out.status, r.lost ? 1 : 0) << r.what << out.err;
        size_t told = 0;
        for (size_t at = out.err.find(ran_out); at != std::string::npos; at = out.err.find(ran_out, at + 1)) ++told;
        EXPECT_EQ(told, r.told) << r.what << ": " << out.err;
        if (r.told > 0) {
            EXPECT_NE(out.err.find(r.why), std::string::npos) << r.what << ": " << out.err;
        }
        if (r.lost) {
            EXPECT_NE(out.err.find("waveOut"), std::string::npos) << out.err;
        }
    }
}

// The largest sample of the right channel in frames [from, to).
int peak(const std::vector<int16_t>& samples, size_t from, size_t to) {
    int largest = 0;
    for (size_t i = from; i < to && 2 * i + 1 < samples.size(); ++i) largest = std::max(largest, std::abs(samples[2 * i + 1]));
    return largest;
}

// --fade-out falls to silence by the end: of the last pass, or at the stop
// second of --until, an endless loop's too; and --until ends the sound at its
// frame, within a few milliseconds, with or without a fade, at either depth
// of the queue (a second of it with no terminal).
TEST(smooth_run, the_fade_out_ends_at_the_stop_time_or_with_the_last_pass) {
    const std::vector<std::vector<std::string>> runs = {
        {"--fade-out=3", "--until=22:13:30", "440,60"},
        {"--fade-out=3", "--loop", "--until=22:13:30", "440,4"},
        {"--fade-out=3", "--loop=2", "440,5"},
        {"--smooth", "--until=22:13:30", "440,60"},
    };
    for (const bool terminal : {true, false})
    for (const std::vector<std::string>& args : runs) {
        const std::string& tail = args[1];
        sim_platform sim;
        sim.keys.terminal = terminal;
        ASSERT_EQ(run(sim, args).status, 0) << tail;
        const std::vector<int16_t>& played = sim.audio.outputs.at(0).samples;
        const size_t end = 10 * second;
        EXPECT_NEAR(static_cast<double>(played.size() / 2), static_cast<double>(end), second / 200.0) << tail;
        if (args[0] == "--smooth") continue;
        const double full = peak(played, second, 2 * second);
        // Two seconds before the end, at three quarters; silent at its end.
        EXPECT_NEAR(peak(played, end - 2 * second - second / 20, end - 2 * second + second / 20) / full, 0.75, 0.05)
            << tail;
        EXPECT_LT(peak(played, end - second / 20, end) / full, 0.01) << tail;
    }
}

TEST(smooth_run, fade_values_are_checked_and_every_option_implies_the_stream) {
    for (const char* bad : {"--fade=1001", "--fade=x", "--fade=-1", "--fade=", "--fade-in=0", "--fade-in=5x",
                            "--fade-out=", "--fade-out=-3"}) {
        sim_platform sim;
        EXPECT_EQ(run(sim, {bad, "440,1"}).status, 2) << bad;
        EXPECT_TRUE(sim.audio.outputs.empty()) << bad;
    }
    for (const char* good : {"--fade=0", "--fade=1000", "--fade-in=1", "--fade-out=1m"}) {
        sim_platform sim;
        EXPECT_EQ(run(sim, {good, "440,1", "550,1"}).status, 0) << good;
        EXPECT_EQ(sim.audio.outputs.size(), 1u) << good << ": one stream";
    }
}

}  // namespace

namespace {

// The steady wave is rendered as every run renders it: without ramps a tone
// from the start of the stream is, frame for frame, what render_buffer
// gives, its -p gate counted in seconds from the tone's start; with them it
// differs only where it rises and falls.
TEST(smooth_run, the_steady_wave_and_its_gate_are_those_of_every_run) {
    struct case_ {
        std::vector<std::string> args;
        int pulse;
        size_t ramp;  // frames at each end that may differ
    } cases[] = {
        {{"--fade=0", "440,3"}, 0, 0},
        {{"--fade=0", "-p", "11", "440,3"}, 11, 0},
        {{"--smooth", "-S", "-l", "550", "440,3"}, 0, 441},
    };
    for (const case_& c : cases) {
        sim_platform sim;
        ASSERT_EQ(run(sim, c.args).status, 0) << c.args[0];
        const std::vector<int16_t>& played = sim.audio.outputs.at(0).samples;
        const std::vector<int16_t> expected = tq_test::rendered(440, c.pulse, 3 * second);
        ASSERT_EQ(played.size(), expected.size()) << c.args[0];
        size_t differing = 0;
        for (size_t i = 2 * c.ramp; i + 2 * c.ramp < played.size(); ++i) differing += played[i] != expected[i];
        EXPECT_EQ(differing, 0u) << c.args[1];
    }
}

// A device that goes away mid-run is waited for; the tone keeps its frames
// and rises again once the device is back.
TEST(smooth_run, a_device_back_within_the_wait_resumes_the_tone_with_the_frames_it_had) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.audio.outage = {t0 + 1500, t0 + 3200, 5};
    const tq_test::run_output r = run(sim, {"--smooth", "--wait-for-device=10", "440,3", "660,2"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(sim.audio.outputs.size(), 2u);
    const uint64_t frames = sim.audio.outputs[0].frames_played + sim.audio.outputs[1].frames_played;
    // What was queued when the device went is played again.
    EXPECT_GE(frames, 5 * second);
    EXPECT_LE(frames, 5 * second + second / 10);
    EXPECT_NE(r.err.find("answers again"), std::string::npos) << r.err;
}

}  // namespace
