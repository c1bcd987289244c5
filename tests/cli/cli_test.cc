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

// The program's own messages after the probe. The probe's sound libraries
// may print their own complaints about a file size limit; they are not the
// subject here.
std::string own_messages(const std::string& err) {
    std::istringstream lines(err);
    std::string line;
    std::string own;
    while (std::getline(lines, line))
        if (line.rfind("tonquel: ", 0) == 0 && line.find("soundcard detected") == std::string::npos) own += line + "\n";
    return own;
}

// A schedule of silent tones: it plays nothing, so it needs no sound device,
// and writes a line for each.
std::vector<std::string> silent_tones(int count) {
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back("440,-1");
    return args;
}

const std::string silent_line = "  440, -1\n";
const std::string header = "#Frequency, Duration\n";

// A file size limit is the Linux program's: under Wine it falls on Wine.
bool runs_the_linux_binary() {
    return program == std::string(TONQUEL_BIN);
}

TEST_F(binary, session_file_at_the_size_limit_keeps_whole_lines_and_the_run_ends_with_1) {
    if (!runs_the_linux_binary()) GTEST_SKIP() << "a file size limit of the Linux program";
    std::vector<std::string> args{"-r"};
    for (auto& tone : silent_tones(200)) args.push_back(tone);
    // The 101st tone line crosses 1024 bytes.
    auto result = run(args, {"/dev/null", false, 1024});
    EXPECT_EQ(result.status, 1);  // not killed by SIGXFSZ
    auto names = files_starting_with("session_");
    ASSERT_EQ(names.size(), 1u);
    std::string name = std::filesystem::path(names[0]).filename();
    EXPECT_EQ(own_messages(result.err), "tonquel: " + name + ": File too large\n");
    std::string lines = header;
    for (int i = 0; i < 100; ++i) lines += silent_line;
    EXPECT_EQ(slurp(names[0]), lines);
}

TEST_F(binary, standard_output_that_fails_is_reported_once_and_the_session_file_goes_on) {
    auto full = run({"-r", "440,-1", "450,-1"}, {"/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(own_messages(full.err), "tonquel: standard output: No space left on device\n");
    auto names = files_starting_with("session_");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(slurp(names[0]), header + silent_line + "  450, -1\n");
    for (const char* listing : {"--help", "--list-devices"}) {
        auto listed = run({listing}, {"/dev/full"});
        EXPECT_EQ(listed.status, 1) << listing;
        EXPECT_EQ(own_messages(listed.err), "tonquel: standard output: No space left on device\n") << listing;
    }

    // Standard output into a file at the size limit keeps what fitted, as
    // far as it fitted: it is the user's file, not cut back.
    if (!runs_the_linux_binary()) return;
    auto limited = run(silent_tones(200), {"", false, 1024});
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(own_messages(limited.err), "tonquel: standard output: File too large\n");
    EXPECT_EQ(limited.out.size(), 1024u);
}

TEST_F(binary, a_reader_of_standard_output_that_went_away_is_no_failure) {
    // Wine's C library reports a write into a closed pipe as EINVAL, which
    // the Windows program cannot tell from a real failure.
    if (!runs_the_linux_binary()) GTEST_SKIP() << "a closed pipe as the Linux program sees it";
    auto result = run(silent_tones(3), {"", true});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(own_messages(result.err), "");
}

}  // namespace
