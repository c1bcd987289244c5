// The -g mode on a scripted chooser: what it logs, reads and ends with.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_harness.h"

using tq_test::run;

namespace {

using outcome = chooser_result::outcome;

class picker_run : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory("DATA");
        tq_test::write_file("DATA/a.txt", "# first\n440,-1\n");
        tq_test::write_file("DATA/b.txt", "550,-2\n");
        tq_test::write_file("DATA/c.txt", "660,-3\n");
    }
    void choose(outcome status, std::vector<std::string> strings) { sim.chooser.answer = {status, std::move(strings)}; }

    tq_test::temp_dir dir;
    sim_platform sim;
};

TEST_F(picker_run, asks_for_frequency_files_in_data) {
    choose(outcome::chosen, {dir.path() + "/DATA/a.txt"});
    run(sim, {"-g"});
    EXPECT_EQ(sim.chooser.calls, 1);
    EXPECT_EQ(sim.chooser.asked_title, "Select Frequency Files");
    EXPECT_EQ(sim.chooser.asked_dir, "DATA");
}

TEST_F(picker_run, one_file_with_backslashes_is_logged_and_read_with_slashes) {
    choose(outcome::chosen, {"DATA\\a.txt"});
    auto result = run(sim, {"-g"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "#Frequency, Duration\n# DATA/a.txt\n# first\n  440, -1\n");
}

TEST_F(picker_run, several_files_are_joined_to_the_directory_in_dialog_order) {
    // Only the directory has its backslashes turned; the names are left as they are.
    choose(outcome::chosen, {"DATA\\", "c.txt", "a.txt"});
    auto result = run(sim, {"-g"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "#Frequency, Duration\n# DATA//c.txt\n# DATA//a.txt\n  660, -3\n# first\n  440, -1\n");
}

TEST_F(picker_run, a_failing_file_stops_the_reading_and_the_run_ends_with_1) {
    choose(outcome::chosen, {"DATA", "a.txt", "missing.txt", "c.txt"});
    auto result = run(sim, {"-g"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "#Frequency, Duration\n# DATA/a.txt\n# DATA/missing.txt\n# first\n  440, -1\n");
    EXPECT_EQ(result.err, "tonquel: DATA/missing.txt: No such file or directory\n");
}

TEST_F(picker_run, cancel_too_many_and_too_old_end_with_1_before_anything_is_logged) {
    choose(outcome::cancelled, {});
    auto cancelled = run(sim, {"-r", "-g"});
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_EQ(cancelled.err, "tonquel: no frequency files selected\n");
    EXPECT_EQ(cancelled.out.find("#Frequency"), std::string::npos);
    // The session file is closed, and the failure never reaches it.
    auto sessions = tq_test::files_starting_with("session_");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(tq_test::read_file(sessions[0]), "");

    choose(outcome::too_many, {});
    auto too_many = run(sim, {"-g"});
    EXPECT_EQ(too_many.status, 1);
    EXPECT_EQ(too_many.err, "tonquel: too many frequency files selected\n");
    EXPECT_EQ(too_many.out, "");

    choose(outcome::unsupported, {});
    auto too_old = run(sim, {"-g"});
    EXPECT_EQ(too_old.status, 1);
    EXPECT_EQ(too_old.err, "tonquel: -g: not supported on your old operating system\n");
    EXPECT_EQ(too_old.out, "");
}

TEST_F(picker_run, paths_longer_than_any_fixed_buffer_are_joined_whole) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows' file calls stop at 260 characters";
#endif
    std::string deep = "DATA";
    while (deep.size() < 600) {
        deep += "/" + std::string(60, 'd');
        std::filesystem::create_directory(deep);
    }
    std::string name(200, 'n');
    tq_test::write_file(deep + "/" + name, "770,-4\n");
    choose(outcome::chosen, {deep, name});
    auto result = run(sim, {"-g"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "#Frequency, Duration\n# " + deep + "/" + name + "\n  770, -4\n");
}

TEST_F(picker_run, a_positional_argument_never_reaches_the_dialog) {
    choose(outcome::chosen, {"DATA/a.txt"});
    EXPECT_EQ(run(sim, {"-g", "DATA/a.txt"}).status, 2);
    EXPECT_EQ(sim.chooser.calls, 0);
}

}  // namespace
