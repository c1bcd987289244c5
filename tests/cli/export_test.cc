// The real binary's export and its long options: what a failed or
// interrupted export leaves, and what --help and --version write.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/binary_process.h"
#include "support/expected_text.h"

namespace {

// The program's help names the sound file types it writes.
const std::string& program_help() {
    static const std::string help = [] {
        char pattern[] = "/tmp/tonquel-cli.XXXXXX";
        std::string dir = mkdtemp(pattern);
        auto result = tq_test::run_binary({"--help"}, dir);
        std::filesystem::remove_all(dir);
        return result.out;
    }();
    return help;
}

bool program_exports() {
    return program_help().find("the type: none on this system") == std::string::npos;
}

// The Linux program writes every type; the Windows program WAV only.
bool program_writes_every_type() {
    return program_help().find("the type: .wav, .flac, .ogg or .mp3.") != std::string::npos;
}

// A file size limit and a signal from here are the Linux program's: under
// Wine they fall on Wine.
bool runs_the_linux_binary() {
    return tq_test::program == std::string(TONQUEL_BIN);
}

class export_binary : public tq_test::binary_test {
protected:
    void SetUp() override {
        binary_test::SetUp();
        if (!program_exports()) GTEST_SKIP() << "this build writes no sound files";
    }
    void write(const std::string& name, const std::string& content) { std::ofstream(dir_ + "/" + name) << content; }
    std::string read(const std::string& name) const { return tq_test::slurp(dir_ + "/" + name); }
};

using long_options = tq_test::binary_test;

TEST_F(long_options, help_and_version_write_to_standard_output_only_and_exit_0) {
    auto help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind(tq_test::usage_text, 0), 0u);
    if (runs_the_linux_binary()) {
        EXPECT_TRUE(program_writes_every_type());
    }
    auto version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, tq_test::version_block);
    EXPECT_EQ(version.err, "");
}

TEST_F(export_binary, success_replaces_the_earlier_file_and_leaves_nothing_else) {
    write("out.wav", "earlier");
    auto result = run({"--output", "out.wav", "440,2"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "#Frequency, Duration\n  440, 2\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read("out.wav").size(), 44u + 2 * 44100 * 4);
    EXPECT_TRUE(files_starting_with("tonquel-").empty());
}

TEST_F(export_binary, a_file_size_limit_keeps_the_earlier_file) {
    if (!runs_the_linux_binary()) GTEST_SKIP() << "a file size limit of the Linux program";
    write("out.wav", "earlier");
    auto result = run({"--output", "out.wav", "440,10"}, {"", false, 256 * 1024});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tonquel: out.wav: File too large\n");
    EXPECT_EQ(result.out, "#Frequency, Duration\n  440, 10\n");
    EXPECT_EQ(read("out.wav"), "earlier");
    EXPECT_TRUE(files_starting_with("tonquel-").empty());
}

// An earlier file that cannot be replaced (immutable here; on Windows one
// open in a player or read-only): the finished sound is not thrown away, and
// the message says where it is.
TEST_F(export_binary, a_finished_file_that_cannot_be_put_in_place_is_kept_and_named) {
    write("out.wav", "earlier");
    const std::string earlier = dir_ + "/out.wav";
    if (std::system(("chattr +i " + earlier + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no immutable files here (chattr)";
    auto result = run({"--output", "out.wav", "440,1"});
    std::system(("chattr -i " + earlier).c_str());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read("out.wav"), "earlier");
    const std::vector<std::string> kept = files_starting_with("tonquel-");
    ASSERT_EQ(kept.size(), 1u);
    const std::string name = std::filesystem::path(kept[0]).filename().string();
    EXPECT_EQ(std::filesystem::file_size(kept[0]), 44u + 44100 * 4);
    // The system's words for it differ: "Operation not permitted", "Access denied".
    const std::string tail = ": the finished file is kept as " + name + "\n";
    EXPECT_EQ(result.err.rfind("tonquel: out.wav: ", 0), 0u) << result.err;
    ASSERT_GE(result.err.size(), tail.size());
    EXPECT_EQ(result.err.substr(result.err.size() - tail.size()), tail) << result.err;
}

// The file asked for is not there: a failure, so that "&& upload" stops.
TEST_F(export_binary, ctrl_c_says_the_file_was_not_written_ends_with_1_and_keeps_the_earlier_file) {
    const std::string name = program_writes_every_type() ? "out.flac" : "out.wav";
    write(name, "earlier");
    // Five hours of silence: long enough to be caught in the middle.
    pid_t pid = tq_test::start_binary(
        {"-v", "0", "--output", name, "440,3600", "440,3600", "440,3600", "440,3600", "440,3600"}, dir_);
    ASSERT_GT(pid, 0);
    bool writing = false;
    for (int tries = 0; tries < 1000 && !writing; ++tries) {
        for (const std::string& part : files_starting_with("tonquel-")) {
            std::error_code gone;
            if (std::filesystem::file_size(part, gone) > 0 && !gone) writing = true;
        }
        if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGINT);
    auto result = tq_test::finish_binary(pid, dir_);
    ASSERT_TRUE(writing);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tonquel: " + name + ": not written: interrupted\n");
    EXPECT_EQ(read(name), "earlier");
    EXPECT_TRUE(files_starting_with("tonquel-").empty());
}

}  // namespace
