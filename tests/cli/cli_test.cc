// The real binary as a subprocess: exact bytes on each stream, exit
// statuses, and the files it leaves.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/expected_text.h"

extern char** environ;

namespace {

struct process_result {
    int status;
    std::string out;
    std::string err;
};

// The program under test: the Linux binary, or another build of it (the
// Windows program through its Wine wrapper) named in TONQUEL_CLI_PROGRAM.
const char* const program = [] {
    const char* other = getenv("TONQUEL_CLI_PROGRAM");
    return other != nullptr && other[0] != '\0' ? other : TONQUEL_BIN;
}();
// The Windows program writes its text files and streams with CR LF.
const bool crlf_line_ends = getenv("TONQUEL_CLI_CRLF") != nullptr;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    if (crlf_line_ends) {
        std::string lf;
        for (size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
        text = lf;
    }
    return text;
}

// Runs the binary with standard input from /dev/null, in directory dir.
process_result run_binary(const std::vector<std::string>& args, const std::string& dir) {
    std::string out_path = dir + "/.stdout";
    std::string err_path = dir + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {-1, "", "spawn failed"};
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return {status, slurp(out_path), slurp(err_path)};
}

class binary : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tonquel-cli.XXXXXX";
        dir_ = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    process_result run(const std::vector<std::string>& args) { return run_binary(args, dir_); }
    std::vector<std::string> sessions() const {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(dir_))
            if (e.path().filename().string().rfind("session_", 0) == 0) names.push_back(e.path().string());
        return names;
    }
    std::string dir_;
};

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
    auto names = sessions();
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
