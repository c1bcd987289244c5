// Whole runs with --output on the simulated platform: the frames written are
// those that playback renders, each tone exactly its length, the log as for
// playback, no sound device, and every failure keeps the file unfinished.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "support/expected_text.h"
#include "support/run_harness.h"

namespace {

constexpr uint64_t rate = 44100;
constexpr int64_t t0 = sim_platform::start_ms;

using tq_test::rendered;
using tq_test::run;
using run_result = tq_test::run_output;

const std::string usage_bytes = tq_test::version_block + tq_test::usage_text;

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::vector<int16_t> frames_of(const std::vector<int16_t>& samples, uint64_t from, uint64_t count) {
    return std::vector<int16_t>(samples.begin() + static_cast<std::ptrdiff_t>(2 * from),
                                samples.begin() + static_cast<std::ptrdiff_t>(2 * (from + count)));
}

TEST(export_run, writes_what_playback_renders_each_part_exactly_its_seconds_from_phase_0) {
    struct shape {
        std::vector<std::string> options;
        // Each part: frequency, seconds, pulse.
        std::vector<std::vector<int>> parts;
    };
    const std::vector<int> pulse_none = {};
    const shape shapes[] = {
        {{}, {{440, 2, 0}, {1000, 3, 0}}},
        {{"-S"}, {{440, 2, 0}, {1000, 3, 0}}},
        {{"-l", "500"}, {{440, 2, 0}, {1000, 3, 0}}},
        {{"-P", "30"}, {{440, 2, 0}, {1000, 3, 0}}},
        // The pulsed tail apart: the steady part, then the pulsed one.
        {{"-p", "10,1"}, {{440, 1, 0}, {440, 1, 10}, {1000, 2, 0}, {1000, 1, 10}}},
    };
    for (const shape& s : shapes) {
        sim_platform playing;
        run_result played = run(playing, with(s.options, {"440,2", "1000,3"}));
        sim_platform sim;
        run_result r = run(sim, with(s.options, {"--output", "tones.wav", "440,2", "1000,3"}));
        const std::string what = s.options.empty() ? "sine" : s.options[0];
        EXPECT_EQ(r.status, 0) << what;
        EXPECT_EQ(r.out, played.out) << what;
        EXPECT_EQ(r.err, "") << what;
        ASSERT_EQ(sim.sound_writer.files.size(), 1u) << what;
        const sim_sound_file_record& file = sim.sound_writer.files[0];
        EXPECT_EQ(file.path, "tones.wav");
        EXPECT_EQ(file.type, "wav");
        EXPECT_TRUE(file.finished) << what;
        EXPECT_EQ(file.frames, 5 * rate) << what;
        EXPECT_EQ(file.expected_frames, 5 * rate) << what;
        ASSERT_EQ(playing.audio.outputs.size(), s.parts.size()) << what;
        uint64_t at = 0;
        for (size_t i = 0; i < s.parts.size(); ++i) {
            const uint64_t frames = static_cast<uint64_t>(s.parts[i][1]) * rate;
            const std::vector<int16_t> part = frames_of(file.samples, at, frames);
            EXPECT_EQ(part, rendered(s.parts[i][0], s.parts[i][2], frames)) << what << " part " << i;
            // Playback sounded the same frames, and then up to a second more.
            const sim_output_opening& opening = playing.audio.outputs[i];
            ASSERT_GE(opening.frames_played, frames) << what << " part " << i;
            EXPECT_EQ(frames_of(opening.samples, 0, frames), part) << what << " part " << i;
            at += frames;
        }
    }
}

TEST(export_run, entries_under_a_second_add_nothing_and_the_log_is_as_for_playback) {
    tq_test::temp_dir dir;
    sim_platform sim;
    run_result r = run(sim, {"-r", "--output=x.flac", "-b", "5", "440,-1", "550,1", "30000,2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "tonquel: frequency 30000 > maximum of 20000: ignored\n");
    ASSERT_EQ(sim.sound_writer.files.size(), 1u);
    EXPECT_EQ(sim.sound_writer.files[0].type, "flac");
    EXPECT_EQ(sim.sound_writer.files[0].frames, 2 * rate);
    auto sessions = tq_test::files_starting_with("session_");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(tq_test::read_file(sessions[0]),
              "#Frequency, Duration\n#tonquel: frequency 30000 > maximum of 20000: ignored\n"
              "  435, -1\n  445, -1\n  545, 1\n  555, 1\n");
}

TEST(export_run, opens_no_sound_device_reads_no_key_and_probes_nothing) {
    sim_platform sim;
    sim.keys.script = {{t0, 'q'}, {t0 + 10, 's'}};
    run_result r = run(sim, {"--output", "x.wav", "440,2", "550,2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "#Frequency, Duration\n  440, 2\n  550, 2\n");
    EXPECT_EQ(sim.sound_writer.files.at(0).frames, 4 * rate);
    EXPECT_TRUE(sim.audio.outputs.empty());
    EXPECT_TRUE(sim.audio.inputs.empty());
    EXPECT_EQ(sim.audio.probes, 0);
    EXPECT_TRUE(sim.status_line.events.empty());

    // --help and --version need no device either; a playing run probes once,
    // also when --output is only the value of another option.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--help"}, {"--version"}}) {
        sim_platform asked;
        run(asked, args);
        EXPECT_EQ(asked.audio.probes, 0) << args[0];
    }
    tq_test::temp_dir dir;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"440,-1"}, {"-o", "--output", "440,-1"}, {"-m", "--output", "440,-1"}, {"-vl", "--output", "440,-1"}}) {
        sim_platform playing;
        run(playing, args);
        EXPECT_EQ(playing.audio.probes, 1) << args[0];
    }
}

TEST(export_run, misused_long_options_and_capture_with_output_are_usage_errors) {
    tq_test::temp_dir dir;
    // A long option's error is named on a line of its own before the usage
    // text; a short option's is the usage text alone, as it always was.
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"-m", "mor.txt", "--output", "x.wav", "440,1"}, "--output x.wav: not with -m: an export opens no sound device"},
        {{"--output", "x.wav", "-m", "mor.txt", "440,1"}, ""},
        {{"--output", "x.wav", "--output", "y.wav", "440,1"}, "--output y.wav: given twice"},
        {{"--output=", "440,1"}, "--output=: no file named"},
        {{"--output", ""}, "--output : no file named"},
        {{"440,1", "--output", "x.wav"}, ""},
        {{"--output"}, "--output: needs a value"},
        {{"--outputx", "440,1"}, "--outputx: not an option (tonquel --help lists them)"},
        {{"--help=all"}, "--help=all: takes no value"},
        {{"--hel"}, "--hel: not an option (tonquel --help lists them)"},
        {{"--"}, "--: not an option (tonquel --help lists them)"},
        {{"--", "440,1"}, "--: not an option (tonquel --help lists them)"},
        {{"--verbose", "440,1"}, "--verbose: not an option (tonquel --help lists them)"},
    };
    for (const auto& [args, line] : cases) {
        sim_platform sim;
        run_result r = run(sim, args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_EQ(r.err, (line.empty() ? "" : "tonquel: " + line + "\n") + usage_bytes) << args[0];
        EXPECT_EQ(r.out, "") << args[0];
        for (const sim_sound_file_record& file : sim.sound_writer.files) EXPECT_FALSE(file.finished) << args[0];
    }
}

TEST(export_run, a_type_this_system_does_not_write_is_named_with_those_it_does) {
    for (const char* path : {"x.xyz", "noext", "dir.wav/x", "x."}) {
        sim_platform sim;
        run_result r = run(sim, {"--output", path, "440,1"});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.err, std::string("tonquel: ") + path + ": unknown sound file type: use .wav or .flac\n");
        EXPECT_EQ(r.out, "") << path;
        EXPECT_TRUE(sim.sound_writer.files.empty()) << path;
    }
    sim_platform sim;
    EXPECT_EQ(run(sim, {"--output", "LOUD.WAV", "440,1"}).status, 0);
    sim_platform none;
    none.sound_writer.writable_types.clear();
    run_result r = run(none, {"--output", "x.wav", "440,1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tonquel: x.wav: this system writes no sound files\n");
}

TEST(export_run, failures_and_ctrl_c_leave_the_file_unfinished) {
    struct failure {
        const char* name;
        uint64_t fail_after_frames;
        bool fail_finish;
        uint64_t interrupt_after_frames;
        std::string create_error;
        int status;
        std::string err;
    };
    const failure failures[] = {
        {"disk full", 3 * rate, false, UINT64_MAX, "", 1, "tonquel: x.wav: No space left on device\n"},
        {"finish", UINT64_MAX, true, UINT64_MAX, "", 1, "tonquel: x.wav: No space left on device\n"},
        {"create", UINT64_MAX, false, UINT64_MAX, "Permission denied", 1, "tonquel: x.wav: Permission denied\n"},
        {"Ctrl-C", UINT64_MAX, false, 3 * rate, "", 1, "tonquel: x.wav: not written: interrupted\n"},
    };
    for (const failure& f : failures) {
        sim_platform sim;
        sim.sound_writer.fail_after_frames = f.fail_after_frames;
        sim.sound_writer.fail_finish = f.fail_finish;
        sim.sound_writer.interrupt_after_frames = f.interrupt_after_frames;
        sim.sound_writer.create_error = f.create_error;
        run_result r = run(sim, {"--output", "x.wav", "440,2", "550,2"});
        EXPECT_EQ(r.status, f.status) << f.name;
        EXPECT_EQ(r.err, f.err) << f.name;
        if (f.create_error.empty()) {
            ASSERT_EQ(sim.sound_writer.files.size(), 1u) << f.name;
            EXPECT_FALSE(sim.sound_writer.files[0].finished) << f.name;
            EXPECT_TRUE(sim.sound_writer.files[0].dropped) << f.name;
        }
    }
    // A schedule that failed to build is not put in place of an earlier
    // file as if it were whole: nothing is written.
    tq_test::temp_dir dir;
    tq_test::write_file("a.txt", "440,1\n");
    sim_platform sim;
    run_result r = run(sim, {"--output", "x.wav", "-f", "a.txt", "missing.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("tonquel: x.wav: not written: the schedule could not be read whole\n")) << r.err;
    EXPECT_TRUE(sim.sound_writer.files.empty());
}

TEST(export_run, a_wav_longer_than_4_gib_is_written_as_rf64) {
    const std::vector<std::string> hours(7, "440,3600");
    sim_platform sim;
    sim.sound_writer.interrupt_after_frames = 1;  // the type is chosen before the first frame
    run_result r = run(sim, with({"--output", "long.wav"}, hours));
    EXPECT_EQ(r.err, "tonquel: long.wav: longer than a WAV file can hold (6 h 45 min): written as RF64\n"
                     "tonquel: long.wav: not written: interrupted\n");
    ASSERT_EQ(sim.sound_writer.files.size(), 1u);
    EXPECT_EQ(sim.sound_writer.files[0].type, "rf64");
    EXPECT_EQ(sim.sound_writer.files[0].expected_frames, 7 * 3600 * rate);

    sim_platform shorter;
    shorter.sound_writer.interrupt_after_frames = 1;
    r = run(shorter, with({"--output", "long.wav"}, std::vector<std::string>(6, "440,3600")));
    EXPECT_EQ(r.err, "tonquel: long.wav: not written: interrupted\n");
    EXPECT_EQ(shorter.sound_writer.files.at(0).type, "wav");

    // A system that writes no RF64 refuses before anything is rendered.
    sim_platform without_rf64;
    without_rf64.sound_writer.create_error = "this system writes no RF64";
    r = run(without_rf64, with({"--output", "long.wav"}, hours));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tonquel: long.wav: this system writes no RF64\n");
    EXPECT_TRUE(without_rf64.sound_writer.files.empty());
}

TEST(export_run, progress_bar_only_on_a_terminal_and_taken_away_before_each_line) {
    sim_platform sim;
    sim.sound_writer.record_samples = false;
    sim.progress_line.is_terminal = true;
    sim.status_line.is_terminal = true;
    tq_test::terminal_output r = tq_test::run_on_terminal(sim, {"--output", "x.wav", "440,3", "550,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.screen,
              "#Frequency, Duration\n  440, 3\n"
              "<show export  [##########------------------------------]  25%>"
              "<show export  [####################--------------------]  50%>"
              "<show export  [##############################----------]  75%><erase>"
              "  550, 1\n"
              "<show export  [########################################]  100%><erase>");
    EXPECT_TRUE(sim.status_line.events.empty());

    sim_platform redirected;
    tq_test::run_on_terminal(redirected, {"--output", "x.wav", "440,3"});
    EXPECT_TRUE(redirected.progress_line.events.empty());
}

TEST(long_options, help_and_version_go_to_standard_output_with_status_0) {
    sim_platform sim;
    run_result help = run(sim, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind(tq_test::usage_text, 0), 0u);
    for (const char* topic : {"-f file", "-s start,end,step", "-b bracket", "-m file", "--output file", ".wav or .flac",
                              "Keys while a tone plays", "s, down arrow", "frequency file", "session file",
                              "MOR file", "Examples:"})
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;

    run_result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, tq_test::version_block);
    EXPECT_EQ(version.err, "");
    // They act where they stand: what comes before still counts.
    EXPECT_EQ(run({"-x", "--help"}).status, 2);
    EXPECT_EQ(run({"-V", "--version"}).out, tq_test::version_block + tq_test::version_block);
}

}  // namespace
