#include "platform/linux/chooser/file_chooser_desktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sstream>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/linux/chooser/chooser_backend.h"
#include "platform/linux/chooser/chooser_dialog.h"
#include "platform/linux/chooser/chooser_spawn.h"
#include "platform/linux/chooser/chooser_test_support.h"
#include "process/exit.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr auto chosen = chooser_result::outcome::chosen;
constexpr auto cancelled = chooser_result::outcome::cancelled;

// The arguments a stand-in received, split at the NULs it wrote after each.
std::vector<std::string> recorded_arguments(const std::string& text) {
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t end = text.find('\0'); end != std::string::npos; end = text.find('\0', start)) {
        arguments.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

// A dialog program that records its arguments and answers with a fixed text
// and exit status, as the real one does when the user confirms or cancels.
std::string stand_in(const scratch_folder& scratch, const std::string& name, const std::string& answer,
                     int status) {
    return scratch.write_program(
        "bin/" + name, "#!/bin/sh\n"
                       "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + scratch.path + "/" + name + ".argv'\n"
                       "printf '%s' '" + answer + "'\n"
                       "exit " + std::to_string(status) + "\n");
}

chooser_result choose_with_path(const scratch_folder& scratch, const std::string& initial_dir) {
    // PATH holds only the stand-ins, so the installed zenity is never found.
    chooser_environment environment;
    environment.display = ":99";
    const std::string search_path = scratch.path + "/bin";
    environment.zenity_path = find_program("zenity", search_path);
    environment.kdialog_path = find_program("kdialog", search_path);
    std::istringstream no_input;
    std::ostringstream messages;
    return run_chooser(environment, "Select Frequency Files", initial_dir, no_input, messages);
}

TEST(dialog_chooser, zenity_gets_its_arguments_and_its_paths_are_shaped) {
    scratch_folder scratch;
    ASSERT_FALSE(scratch.path.empty());
    stand_in(scratch, "zenity", "/t/DATA/a.txt\n/t/DATA/low tones.txt\n", 0);
    stand_in(scratch, "kdialog", "/wrong.txt\n", 0);

    const chooser_result result = choose_with_path(scratch, scratch.path + "/DATA");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre("/t/DATA", "a.txt", "low tones.txt"));
    EXPECT_THAT(recorded_arguments(scratch.read("zenity.argv")),
                ElementsAre("--file-selection", "--multiple", "--title=Select Frequency Files",
                            "--filename=" + scratch.path + "/DATA/", "--separator=\n"));
}

TEST(dialog_chooser, kdialog_serves_when_zenity_is_not_on_path) {
    scratch_folder scratch;
    ASSERT_FALSE(scratch.path.empty());
    stand_in(scratch, "kdialog", "/t/DATA/only one.txt\n", 0);

    const chooser_result result = choose_with_path(scratch, scratch.path + "/DATA");
    EXPECT_EQ(result.status, chosen);
    EXPECT_THAT(result.strings, ElementsAre("/t/DATA/only one.txt"));
    EXPECT_THAT(recorded_arguments(scratch.read("kdialog.argv")),
                ElementsAre("--title", "Select Frequency Files", "--multiple", "--separate-output",
                            "--getopenfilename", scratch.path + "/DATA"));
}

TEST(dialog_chooser, relative_start_folder_is_made_absolute) {
    scratch_folder scratch;
    ASSERT_FALSE(scratch.path.empty());
    stand_in(scratch, "zenity", "/t/a.txt\n", 0);
    choose_with_path(scratch, "DATA");
    const std::vector<std::string> arguments = recorded_arguments(scratch.read("zenity.argv"));
    ASSERT_EQ(arguments.size(), 5u);
    EXPECT_EQ(arguments[3], "--filename=" + std::filesystem::current_path().string() + "/DATA/");
}

TEST(dialog_chooser, cancel_failure_or_no_answer_is_a_cancel) {
    scratch_folder scratch;
    ASSERT_FALSE(scratch.path.empty());
    stand_in(scratch, "zenity", "", 1);
    EXPECT_EQ(choose_with_path(scratch, "DATA").status, cancelled);

    // A path printed together with a failing status is not trusted.
    stand_in(scratch, "zenity", "/t/a.txt\n", 5);
    EXPECT_EQ(choose_with_path(scratch, "DATA").status, cancelled);

    stand_in(scratch, "zenity", "\n", 0);
    EXPECT_EQ(choose_with_path(scratch, "DATA").status, cancelled);

    scratch.write_program("bin/zenity", "#!/bin/sh\nkill -9 $$\n");
    EXPECT_EQ(choose_with_path(scratch, "DATA").status, cancelled);
}

TEST(dialog_chooser, no_dialog_and_no_terminal_is_a_cancel) {
    scratch_folder scratch;
    ASSERT_FALSE(scratch.path.empty());
    const chooser_result result = choose_with_path(scratch, "DATA");
    EXPECT_EQ(result.status, cancelled);
    EXPECT_THAT(result.strings, IsEmpty());
}

TEST(find_program, searches_the_list_in_order_for_executable_files) {
    scratch_folder scratch;
    ASSERT_FALSE(scratch.path.empty());
    scratch.write("one/tool", "not executable");
    std::filesystem::create_directories(scratch.path + "/two/tool");
    const std::string real = scratch.write_program("three/tool", "#!/bin/sh\n");
    scratch.write_program("four/tool", "#!/bin/sh\n");
    const std::string list = scratch.path + "/one:" + scratch.path + "/two::" + scratch.path + "/three:" +
                             scratch.path + "/four";
    EXPECT_EQ(find_program("tool", list), real);
    EXPECT_EQ(find_program("missing", list), "");
    EXPECT_EQ(find_program("tool", ""), "");
    EXPECT_EQ(find_program(real, ""), real);
}

TEST(run_program, collects_all_output_and_the_exit_status) {
    // More than a pipe holds at once, so the output must be read as it comes.
    const program_run run = run_program("/bin/sh", {"sh", "-c", "head -c 300000 /dev/zero | tr '\\0' x; exit 3"});
    EXPECT_EQ(run.status, program_run::outcome::exited);
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.output, std::string(300000, 'x'));
}

TEST(run_program, arguments_pass_unsplit_and_standard_input_is_empty) {
    const program_run run =
        run_program("/bin/sh", {"sh", "-c", "printf '[%s]' \"$1\" \"$2\"; cat", "sh", "a b;$HOME", "x\ny"});
    EXPECT_EQ(run.status, program_run::outcome::exited);
    EXPECT_EQ(run.output, "[a b;$HOME][x\ny]");
}

TEST(run_program, missing_or_killed_program_is_reported) {
    EXPECT_EQ(run_program("/nonexistent/zenity", {"zenity"}).status, program_run::outcome::not_started);
    EXPECT_EQ(run_program("/bin/sh", {"sh", "-c", "kill -9 $$"}).status, program_run::outcome::killed);
}

// With the run's own handlers, which restart interrupted calls: Ctrl-C must
// end the wait whether the dialog holds its output open or has closed it and
// lingers.
TEST(run_program, ctrl_c_kills_and_reaps_a_dialog_that_does_not_end) {
    const char* lingerers[] = {"exec sleep 60", "exec sleep 60 >/dev/null"};
    for (const char* lingers : lingerers) {
        scratch_folder scratch;
        ASSERT_FALSE(scratch.path.empty());
        const std::string sleeper = scratch.write_program(
            "sleeper", "#!/bin/sh\necho $$ > '" + scratch.path + "/pid'\n" + lingers + "\n");
        install_signal_handlers();
        std::thread interrupter([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            kill(getpid(), SIGINT);
        });
        const program_run run = run_program(sleeper, {"sleeper"});
        interrupter.join();
        remove_signal_handlers();
        pending_signal = 0;

        EXPECT_EQ(run.status, program_run::outcome::interrupted) << lingers;
        const std::string pid_text = scratch.read("pid");
        ASSERT_FALSE(pid_text.empty()) << lingers;
        const pid_t child = static_cast<pid_t>(std::stol(pid_text));
        // Reaped, not a zombie: the pid no longer exists.
        EXPECT_EQ(kill(child, 0), -1) << lingers;
        EXPECT_EQ(errno, ESRCH) << lingers;
    }
}

}  // namespace
