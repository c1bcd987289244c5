// Whole runs of the command line on the simulated platform: options, usage
// errors, exit statuses, the play loop and the session file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "process/settings.h"
#include "schedule/admission.h"
#include "schedule/fdt.h"
#include "support/expected_text.h"
#include "support/run_harness.h"

using tq_test::run;
using testing::HasSubstr;

namespace {

// Session names come from local time: pin it.
const bool utc = [] {
#ifdef _WIN32
    _putenv_s("TZ", "UTC");
#else
    setenv("TZ", "UTC", 1);
#endif
    return true;
}();

using tq_test::usage_text;
using tq_test::version_block;

// A tone of negative duration is admitted and logged but never sounds.
const std::string silent_pair = "440,-1";

// The options given, then one silent pair, so that a run ends at once.
tq_test::run_output run_options(std::vector<std::string> options) {
    options.push_back(silent_pair);
    return run(options);
}

TEST(usage_errors, write_version_block_and_usage_to_standard_error_only) {
    auto result = run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, version_block + usage_text);
    EXPECT_EQ(result.out, "");
}

TEST(usage_errors, every_conflict_and_malformed_option) {
    const std::vector<std::vector<std::string>> bad = {
        {"-S", "-T"},        {"-T", "-S"},          {"-f", "-g"},          {"-g", "-s", "1,2,3"},
        {"-s", "100,200,10", "-f"},                 {"-Sx"},               {"-fx"},
        {"-gx"},             {"-s", "100,200"},     {"-P", "30", "-e"},    {"-e", "-P", "30"},
        {"-l", "440", "-P", "30"},                  {"-P", "30", "-l", "440"},
        {"-l=r", "-P", "30"},                       {"-P", "30", "-P", "40"},
        {"-v.5"},            {"-v-1"},              {"-vx", "1"},          {"-r", "-r"},
        {"-x"},              {"-"},                 {"-e", "-l", "300"},   {"-l", "300", "-e"},
        {"-P", "nan"},       {"-P", "inf"},         {"-P", "-inf"},
    };
    for (const auto& options : bad) {
        tq_test::temp_dir dir;  // -r leaves a session file behind
        auto result = run_options(options);
        std::string shown;
        for (auto& o : options) shown += o + " ";
        EXPECT_EQ(result.status, 2) << shown;
        EXPECT_THAT(result.err, HasSubstr(usage_text)) << shown;
        EXPECT_EQ(result.out.find("#Frequency"), std::string::npos) << shown;
    }
}

TEST(usage_errors, options_missing_their_value) {
    for (const char* option : {"-vr", "-vl", "-v", "-o", "-b", "-l", "-P", "-p", "-m", "-s"}) {
        auto result = run({option});
        EXPECT_EQ(result.status, 2) << option;
        EXPECT_EQ(result.err, version_block + usage_text) << option;
    }
}

TEST(usage_errors, positional_arguments_and_modes) {
    EXPECT_EQ(run({"440,1", "-S"}).status, 2);    // an option after a positional
    EXPECT_EQ(run({"-f"}).status, 2);             // no file
    EXPECT_EQ(run({"-g", "a.txt"}).status, 2);    // -g takes none
    EXPECT_EQ(run({"-s", "1,2,3", "x"}).status, 2);
    EXPECT_EQ(run({"-S"}).status, 2);             // pairs mode needs a pair
}

TEST(version, on_its_own_goes_to_standard_output_then_usage) {
    auto result = run({"-V"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, version_block);
    EXPECT_EQ(result.err, version_block + usage_text);
}

TEST(version, attached_text_is_ignored_by_r_e_and_V) {
    tq_test::temp_dir dir;
    auto result = run_options({"-Vx", "-ex", "-rx"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(settings.octave_shift);
    EXPECT_EQ(tq_test::files_starting_with("session_").size(), 1u);
}

TEST(options, value_syntax) {
    run_options({"-o", "-5"});
    ASSERT_EQ(num_offsets, 1);
    EXPECT_EQ(offsets[0], -5.0);

    run_options({"-o7"});
    EXPECT_EQ(offsets[0], 7.0);

    run_options({"-vl0.3", "0.2"});  // -vl takes the next argument whatever follows the l
    EXPECT_EQ(settings.left_volume, 0.2);
    EXPECT_EQ(settings.right_volume, 0.5);

    run_options({"-vr", "1"});
    EXPECT_EQ(settings.right_volume, 1.0);
    EXPECT_EQ(settings.left_volume, 0.5);

    run_options({"-v", ".5"});
    EXPECT_EQ(settings.left_volume, 0.5);
    run_options({"-v0"});
    EXPECT_EQ(settings.left_volume, 0.0);
    EXPECT_EQ(settings.right_volume, 0.0);

    run_options({"-l=r"});
    EXPECT_EQ(settings.left_frequency, -1.0);
    run_options({"-l", "440", "-l", "550"});
    EXPECT_EQ(settings.left_frequency, 550.0);
    run_options({"-l", "abc", "-e"});  // converts to 0: blocks nothing
    EXPECT_TRUE(settings.octave_shift);
}

TEST(options, volume_out_of_range_ends_with_status_1) {
    for (const char* volume : {"1.5", "-0.1", "nan"}) {
        auto result = run_options({"-v", volume});
        EXPECT_EQ(result.status, 1) << volume;
        EXPECT_EQ(result.err, std::string("tonquel: volume ") + (volume[0] == 'n' ? "nan" : volume) +
                                  " is out of the range 0.0 to 1.0\n");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(run_options({"-v", "1"}).status, 0);
    EXPECT_EQ(run_options({"-v", "0"}).status, 0);
}

TEST(options, pulse_is_clamped_and_split) {
    run_options({"-p", "0"});
    EXPECT_EQ(settings.pulse_frequency, 1);
    EXPECT_EQ(settings.pulse_duration, 0);
    run_options({"-p", "5000"});
    EXPECT_EQ(settings.pulse_frequency, 1000);
    run_options({"-p10,2m"});
    EXPECT_EQ(settings.pulse_frequency, 10);
    EXPECT_EQ(settings.pulse_duration, 120);
    run_options({"-p", "99999999999999"});  // no overflow on the way
    EXPECT_EQ(settings.pulse_frequency, 1000);
}

TEST(options, sweep_fields) {
    run({"-s", "100,200,10"});
    EXPECT_EQ(settings.sweep_start, 100.0);
    EXPECT_EQ(settings.sweep_end, 200.0);
    EXPECT_EQ(settings.sweep_increment, 10.0);
    EXPECT_EQ(settings.sweep_duration, 180);
    run({"-s", "100,200,10,5", "-s", "1,2,1,1m"});  // the last wins
    EXPECT_EQ(settings.sweep_start, 1.0);
    EXPECT_EQ(settings.sweep_duration, 60);
}

TEST(options, phase_angle_is_brought_into_range) {
    const std::vector<std::pair<std::string, double>> cases = {
        {"180", 180},  {"-180", -180}, {"540", 180},   {"-540", -180},
        {"190", -170}, {"360", 0},     {"-190", 170},  {"1e300", 0.0},
        {"720.5", 0.5}, {"30", 30},
    };
    for (const auto& [angle, expected] : cases) {
        EXPECT_EQ(run_options({"-P", angle}).status, 0) << angle;
        EXPECT_EQ(settings.phase_angle, expected) << angle;
        EXPECT_EQ(settings.left_frequency, -1.0);
    }
    // Far too large for stepping by 360 to change it: reduced exactly instead.
    EXPECT_EQ(run_options({"-P", "1e17"}).status, 0);
    EXPECT_EQ(settings.phase_angle, std::fmod(1e17, 360.0) - 360.0);
    // An angle that normalises to 0 does not block -l.
    EXPECT_EQ(run_options({"-P", "0", "-l", "440"}).status, 0);
    EXPECT_EQ(settings.left_frequency, 440.0);
    EXPECT_EQ(run_options({"-P", "360", "-l", "300"}).status, 0);
    EXPECT_EQ(settings.left_frequency, 300.0);
}

TEST(options, offsets_full_set_ends_with_status_1) {
    std::vector<std::string> options;
    for (int i = 1; i <= 200; ++i) options.insert(options.end(), {"-o", std::to_string(i)});
    EXPECT_EQ(run_options(options).status, 0);
    options.insert(options.end(), {"-o", "5"});  // already held: silently accepted
    EXPECT_EQ(run_options(options).status, 0);
    options.insert(options.end(), {"-o", "201"});
    auto result = run_options(options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tonquel: too many offsets/brackets\n");

    std::vector<std::string> brackets;
    for (int i = 1; i <= 199; ++i) brackets.insert(brackets.end(), {"-o", std::to_string(i * 100)});
    brackets.insert(brackets.end(), {"-b", "7"});
    EXPECT_EQ(run_options(brackets).status, 1);
    EXPECT_EQ(num_offsets, 200);
    EXPECT_EQ(offsets[199], 7.0);  // +7 went in, -7 did not
}

TEST(play_loop, pairs_are_logged_in_order_with_the_header) {
    auto result = run({"-o", "0", "-b", "5", "440,-2m", "100,-1h"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "#Frequency, Duration\n  435, -120\n  440, -120\n  445, -120\n  95, -3600\n  100, -3600\n"
              "  105, -3600\n");
}

TEST(play_loop, out_of_range_pair_plays_nothing_and_exits_0) {
    sim_platform sim;
    auto result = run(sim, {"30000,10"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "tonquel: frequency 30000 > maximum of 20000: ignored\n");
    EXPECT_EQ(result.out, "#Frequency, Duration\n");
    EXPECT_TRUE(sim.audio.outputs.empty());
}

TEST(probe, warns_when_a_device_lacks_the_format_and_goes_on) {
    for (auto probe : {wave_probe_result{false, true}, wave_probe_result{true, false}}) {
        sim_platform sim;
        sim.audio.probe_result = probe;
        auto result = run(sim, {silent_pair});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "tonquel: marginal or nonexistant soundcard detected: trying anyways\n");
    }
    EXPECT_EQ(run({silent_pair}).err, "");
}

TEST(interrupt, during_a_tone_ends_with_status_0_and_closes_everything) {
    tq_test::temp_dir dir;
    sim_platform sim;
    sim.raise_signal_at(sim_platform::start_ms + 1500, SIGINT);
    auto result = run(sim, {"-r", "-m", "mor.txt", "440,5", "550,5"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_EQ(sim.audio.open_input_devices, 0);
    EXPECT_GE(sim.keys.restores, 1);
    auto sessions = tq_test::files_starting_with("session_");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(tq_test::read_file(sessions[0]), "#Frequency, Duration\n  440, 5\n");
    EXPECT_EQ(tq_test::read_file("mor.txt"), "");  // the interrupted tone writes no block
}

TEST(interrupt, terminate_and_hangup_act_like_the_interrupt) {
#ifdef SIGHUP
    const int signals[] = {SIGTERM, SIGHUP};
#else
    const int signals[] = {SIGTERM};
#endif
    for (int signal_number : signals) {
        sim_platform sim;
        sim.raise_signal_at(sim_platform::start_ms + 100, signal_number);
        auto result = run(sim, {"440,5", "550,5"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(sim.audio.outputs.size(), 1u);
        EXPECT_EQ(sim.audio.open_output_devices, 0);
    }
}

TEST(session_file, records_the_run_and_marks_errors) {
    tq_test::temp_dir dir;
    sim_platform sim;
    auto result = run(sim, {"-r", "-V", "30000,10", "440,-3"});
    EXPECT_EQ(result.status, 0);
    auto sessions = tq_test::files_starting_with("session_");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0], "session_20231114_221320");  // local time of the virtual clock in UTC
    EXPECT_EQ(result.out, "\n#Recording session in file: " + sessions[0] + "\n\n" + version_block +
                              "#Frequency, Duration\n  440, -3\n");
    EXPECT_EQ(tq_test::read_file(sessions[0]),
              version_block + "#Frequency, Duration\n#tonquel: frequency 30000 > maximum of 20000: ignored\n"
                              "  440, -3\n");
}

TEST(session_file, a_taken_name_waits_and_takes_the_next_second) {
    tq_test::temp_dir dir;
    tq_test::write_file("session_20231114_221320", "keep me\n");
    sim_platform sim;
    auto result = run(sim, {"-r", silent_pair});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "tonquel: session_20231114_221320: file exists\n");
    EXPECT_THAT(result.out, HasSubstr("#Recording session in file: session_20231114_221321\n"));
    EXPECT_EQ(tq_test::read_file("session_20231114_221320"), "keep me\n");
    EXPECT_EQ(sim.total_sleep_ms, 1500);
}

TEST(session_file, a_dangling_link_with_the_name_is_never_followed) {
    tq_test::temp_dir dir;
    std::error_code error;
    std::filesystem::create_symlink("target_that_must_not_appear", "session_20231114_221320", error);
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
    auto result = run({"-r", silent_pair});
    EXPECT_EQ(result.status, 0);
    EXPECT_FALSE(std::filesystem::exists("target_that_must_not_appear"));
    EXPECT_THAT(result.err, HasSubstr("file exists"));
}

TEST(session_file, cannot_be_created_ends_with_status_1) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows cannot remove the working directory";
#endif
    tq_test::temp_dir dir;
    // A working directory that no longer exists refuses new files, even to root.
    std::filesystem::create_directory("gone");
    std::filesystem::current_path("gone");
    std::filesystem::remove("../gone");
    sim_platform sim;
    auto result = run(sim, {"-r", "440,1"});
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tonquel: session_20231114_221320: No such file or directory\n");
    EXPECT_TRUE(sim.audio.outputs.empty());
}

TEST(session_file, usage_error_after_r_keeps_what_was_written) {
    tq_test::temp_dir dir;
    auto result = run({"-r", "-V", "-x"});
    EXPECT_EQ(result.status, 2);
    auto sessions = tq_test::files_starting_with("session_");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(tq_test::read_file(sessions[0]), version_block);  // no usage text in it
}

}  // namespace
