// Whole runs that name their devices: --device and --input-device choose
// among the simulated devices (numbered and named as WinMM does) for the
// probe, every opening and every reopening; --list-devices lists them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

using tq_test::run;
constexpr int64_t t0 = sim_platform::start_ms;
const std::string probe_warning = "tonquel: marginal or nonexistant soundcard detected: trying anyways\n";
const std::string list_check = "; check the name against the list that --list-devices prints\n";

TEST(device_choice_run, the_probe_and_every_opening_use_the_devices_named_by_number_or_name) {
    struct case_ {
        std::vector<std::string> options;
        int output;
        int input;
        std::string probed_output;  // "": the default
        std::string probed_input;
    };
    const case_ cases[] = {
        {{}, 0, 0, "", ""},
        {{"--device", "second", "--input-device=1"}, 1, 1, "second", "1"},
        // The last one given counts.
        {{"--device=1", "--device=SPEAK", "--input-device", "line"}, 0, 1, "SPEAK", "line"},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-m", "mor.txt", "440,1", "550,1"});
        const tq_test::run_output r = run(sim, args);
        const std::string what = ::testing::PrintToString(c.options);
        EXPECT_EQ(r.status, 0) << what;
        EXPECT_EQ(r.err, "") << what;
        EXPECT_EQ(sim.audio.probed_output, c.probed_output) << what;
        EXPECT_EQ(sim.audio.probed_input, c.probed_input) << what;
        ASSERT_EQ(sim.audio.outputs.size(), 2u) << what;
        ASSERT_EQ(sim.audio.inputs.size(), 2u) << what;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(sim.audio.outputs[i].device, c.output) << what;
            EXPECT_EQ(sim.audio.inputs[i].device, c.input) << what;
        }
    }
    // A name that matches nothing is marginal at best.
    sim_platform wrong;
    EXPECT_EQ(run(wrong, {"--input-device", "nosuch", "440,-1"}).err, probe_warning);
}

TEST(device_choice_run, a_name_that_matches_nothing_ends_the_run_at_its_first_tone_with_the_records_complete) {
    struct case_ {
        std::vector<std::string> options;
        std::string error;
    };
    const case_ cases[] = {
        {{"--device=nosuch"}, "tonquel: waveOut: no output device matches \"nosuch\"" + list_check},
        {{"--input-device", "7"}, "tonquel: waveIn: no input device matches \"7\"" + list_check},
    };
    for (const case_& c : cases) {
        tq_test::temp_dir dir;
        sim_platform sim;
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"-r", "-m", "mor.txt", "440,1", "550,1"});
        const tq_test::run_output r = run(sim, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, probe_warning + c.error);
        EXPECT_EQ(sim.audio.open_output_devices, 0);
        EXPECT_EQ(sim.audio.open_input_devices, 0);
        const std::vector<std::string> sessions = tq_test::files_starting_with("session_");
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(tq_test::read_file(sessions[0]), "#Frequency, Duration\n  440, 1\n#" + c.error);
    }
}

// After what earlier options printed (-V).
TEST(device_choice_run, list_devices_prints_both_directions_and_probes_and_opens_nothing) {
    sim_platform sim;
    sim.audio.output_names.push_back("USB Audio Interface");
    const tq_test::run_output r = run(sim, {"-V", "--device=1", "--list-devices", "440,1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              std::string(version_block()) +
              "Playback devices, for --device (* the default):\n"
              "* 0  Speakers\n"
              "  1  Second Output\n"
              "  2  USB Audio Interface\n"
              "Capture devices, for --input-device (* the default):\n"
              "* 0  Microphone\n"
              "  1  Line In\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(sim.audio.listings, 1);
    EXPECT_EQ(sim.audio.probes, 0);
    EXPECT_TRUE(sim.audio.outputs.empty());
}

TEST(device_choice_run, a_missing_or_empty_name_is_a_usage_error) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--device"}, {"--device="}, {"--device", "", "440,1"}, {"--input-device=", "440,1"}}) {
        sim_platform sim;
        const tq_test::run_output r = run(sim, args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_TRUE(sim.audio.outputs.empty());
    }
}

TEST(device_choice_run, the_wait_for_a_device_reopens_the_one_named) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.audio.outage = {t0 + 1000, t0 + 2500, 5};
    const tq_test::run_output r = run(sim, {"--device=second", "--wait-for-device=10", "440,3"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(sim.audio.outputs.size(), 2u);
    EXPECT_EQ(sim.audio.outputs[0].device, 1);
    EXPECT_EQ(sim.audio.outputs[1].device, 1);
}

}  // namespace
