// The real binary as a subprocess: exact bytes on each stream, exit
// statuses, and the files it leaves.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/binary_process.h"
#include "support/expected_text.h"

namespace {

using tq_test::program;
using tq_test::slurp;

using binary = tq_test::binary_test;

// Whether the machine's sound devices pass the probe is not ours to decide.
std::string without_probe_warning(std::string err) {
    const std::string warning = "tonquel: marginal or nonexistant soundcard detected: trying anyways\n";
    if (err.rfind(warning, 0) == 0) err.erase(0, warning.size());
    return err;
}

const std::string usage_bytes = tq_test::version_block + tq_test::usage_text;

TEST_F(binary, usage_text_bytes_and_status_2) {
    auto result = run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(without_probe_warning(result.err), usage_bytes);
    EXPECT_EQ(result.out, "");
}

TEST_F(binary, the_name_it_was_started_under_is_never_used) {
    if (program != std::string(TONQUEL_BIN)) GTEST_SKIP() << "starts the Linux binary under another name";
    std::filesystem::copy_file(TONQUEL_BIN, dir_ + "/other-name");
    std::vector<char*> argv{const_cast<char*>("other-name"), nullptr};
    std::string bin = dir_ + "/other-name";
    std::string err = dir_ + "/.err";
    pid_t pid = fork();
    if (pid == 0) {
        freopen(err.c_str(), "w", stderr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(without_probe_warning(slurp(err)), usage_bytes);
}

TEST_F(binary, silent_schedule_goes_to_standard_output_warnings_to_standard_error) {
    auto result = run({"-b", "5", "440,-1", "30000,2", "100,3601"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "#Frequency, Duration\n  435, -1\n  445, -1\n");
    EXPECT_EQ(without_probe_warning(result.err),
              "tonquel: frequency 30000 > maximum of 20000: ignored\n"
              "tonquel: duration 3601 > maximum of 3600: ignored\n");
}

TEST_F(binary, session_file_reads_back_as_a_frequency_file) {
    auto first = run({"-r", "-o", "0", "-b", "5", "1234.5678,-7", "30000,1"});
    ASSERT_EQ(first.status, 0);
    auto names = files_starting_with("session_");
    ASSERT_EQ(names.size(), 1u);
    std::string recorded = slurp(names[0]);
    EXPECT_EQ(recorded,
              "#Frequency, Duration\n#tonquel: frequency 30000 > maximum of 20000: ignored\n"
              "  1229.57, -7\n  1234.57, -7\n  1239.57, -7\n");
    std::string name = std::filesystem::path(names[0]).filename();
    EXPECT_THAT(first.out, testing::StartsWith("\n#Recording session in file: " + name + "\n\n"));

    std::filesystem::rename(names[0], dir_ + "/replay.txt");
    auto replay = run({"-f", "replay.txt"});
    EXPECT_EQ(replay.status, 0);
    EXPECT_EQ(replay.out,
              "#Frequency, Duration\n# replay.txt\n#Frequency, Duration\n"
              "#tonquel: frequency 30000 > maximum of 20000: ignored\n"
              "  1229.57, -7\n  1234.57, -7\n  1239.57, -7\n");
}

TEST_F(binary, files_stop_at_the_first_unreadable_one_and_exit_1) {
    std::ofstream(dir_ + "/a.txt") << "440,-1\n";
    std::ofstream(dir_ + "/c.txt") << "660,-1\n";
    auto result = run({"-f", "a.txt", "b.txt", "c.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "#Frequency, Duration\n# a.txt\n# b.txt\n  440, -1\n");
    EXPECT_EQ(without_probe_warning(result.err), "tonquel: b.txt: No such file or directory\n");
}

TEST_F(binary, sweep_failure_plays_nothing_and_exits_1) {
    auto result = run({"-s", "100,101,2"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "#Frequency, Duration\n");
    EXPECT_EQ(without_probe_warning(result.err), "tonquel: sweep_increment too big\n");
}

TEST_F(binary, unwritable_mor_file_ends_with_status_1) {
    auto result = run({"-m", "no/such/dir/mor.txt", "440,-1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(without_probe_warning(result.err), "tonquel: no/such/dir/mor.txt: No such file or directory\n");
    EXPECT_EQ(result.out, "");
}

TEST_F(binary, mor_file_is_replaced_at_option_time) {
    std::ofstream(dir_ + "/mor.txt") << "old\n";
    auto result = run({"-m", "mor.txt", "-x"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(slurp(dir_ + "/mor.txt"), "");
}

}  // namespace
