#include "platform/linux/chooser/chooser_spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/interruptible_wait.h"
#include "process/exit.h"

extern char** environ;

namespace {

// Owns the spawn descriptions so every early return releases them.
struct spawn_setup {
    posix_spawn_file_actions_t actions{};
    bool ready = false;
    spawn_setup() { ready = posix_spawn_file_actions_init(&actions) == 0; }
    ~spawn_setup() {
        if (ready) posix_spawn_file_actions_destroy(&actions);
    }
    spawn_setup(const spawn_setup&) = delete;
    spawn_setup& operator=(const spawn_setup&) = delete;
};

// Waits for the child whatever signals arrive: after a kill this cannot
// take long, and leaving a zombie behind is worse than one more wait.
int reap(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

program_run interrupted(pid_t child) {
    kill(child, SIGKILL);
    reap(child);
    program_run run;
    run.status = program_run::outcome::interrupted;
    return run;
}

}  // namespace

program_run run_program(const std::string& path, const std::vector<std::string>& arguments) {
    program_run run;

    // Close-on-exec on both ends: the child gets the write end as its
    // standard output through dup2, and no other child of this process
    // inherits either end and keeps the pipe open.
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) return run;
    const int read_end = pipe_ends[0];
    const int write_end = pipe_ends[1];

    spawn_setup setup;
    // The dialog must not read the terminal: the program's keys come from it.
    // Its toolkit's warnings on standard error would mix into our messages.
    bool ready = setup.ready &&
                 posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                 posix_spawn_file_actions_adddup2(&setup.actions, write_end, 1) == 0 &&
                 posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0) == 0;

    std::vector<std::string> argument_copies = arguments;
    if (argument_copies.empty()) argument_copies.push_back(path);
    std::vector<char*> argv;
    for (std::string& argument : argument_copies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t child = -1;
    if (ready) ready = posix_spawn(&child, path.c_str(), &setup.actions, nullptr, argv.data(), environ) == 0;
    close(write_end);
    if (!ready) {
        close(read_end);
        return run;
    }

    char chunk[4096];
    for (;;) {
        // The read would go on after a signal; the wait does not.
        if (!wait_for_fd(read_end, POLLIN, pending_signal)) {
            close(read_end);
            return interrupted(child);
        }
        const ssize_t got = read(read_end, chunk, sizeof chunk);
        if (got > 0) {
            run.output.append(chunk, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno == EINTR) {
            close(read_end);
            return interrupted(child);
        } else {
            break;
        }
    }
    close(read_end);

    // A dialog may close its output and linger: waitpid would wait through
    // Ctrl-C.
    int status = 0;
    for (;;) {
        const pid_t reaped = waitpid(child, &status, WNOHANG);
        if (reaped == child) break;
        if (reaped < 0 && errno != EINTR) return run;
        if (pending_signal != 0) return interrupted(child);
        sleep_one_slice();
    }
    if (WIFEXITED(status)) {
        run.status = program_run::outcome::exited;
        run.exit_code = WEXITSTATUS(status);
    } else {
        run.status = program_run::outcome::killed;
    }
    return run;
}
