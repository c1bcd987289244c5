#include "platform/linux/terminal/key_source_terminal.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Findings of a check run in a child process, where gtest cannot report.
struct findings {
    std::string text;
    void expect(bool ok, std::string_view what) {
        if (!ok) {
            text.append(what).append("\n");
        }
    }
};

bool same_mode(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

termios mode_of_stdin() {
    termios mode{};
    tcgetattr(STDIN_FILENO, &mode);
    return mode;
}

bool in_key_mode(const termios& mode) {
    return (mode.c_lflag & (ICANON | ECHO)) == 0 && (mode.c_lflag & ISIG) != 0;
}

bool readable(int fd, int timeout_ms) {
    pollfd waiting{fd, POLLIN, 0};
    return poll(&waiting, 1, timeout_ms) == 1 && (waiting.revents & POLLIN) != 0;
}

// Types text on the terminal and waits until it has reached standard input.
void type(int master, std::string_view text) {
    ssize_t written = write(master, text.data(), text.size());
    (void)written;
    readable(STDIN_FILENO, 2000);
}

int poll_until_key(key_source& keys, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        int code = keys.poll_key();
        if (code != key_none) {
            return code;
        }
        usleep(10000);
    }
    return key_none;
}

// Runs body in a child process that leads a new session whose controlling
// terminal, a new pseudo-terminal, is its standard input. body gets the
// master side and returns what failed; the result is that text, or the
// way the child ended if it did not end normally.
std::string run_on_own_terminal(const std::function<std::string(int master)>& body) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        return "no pseudo-terminal";
    }
    int report[2];
    if (pipe(report) != 0) {
        return "no pipe";
    }
    pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        alarm(20);
        setsid();
        int slave = open(ptsname(master), O_RDWR);
        if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) != 0 || dup2(slave, STDIN_FILENO) < 0) {
            _exit(3);
        }
        std::string failed = body(master);
        ssize_t written = write(report[1], failed.data(), failed.size());
        (void)written;
        _exit(0);
    }
    close(report[1]);
    close(master);
    std::string failed;
    char chunk[256];
    ssize_t count;
    while ((count = read(report[0], chunk, sizeof chunk)) > 0) {
        failed.append(chunk, static_cast<std::size_t>(count));
    }
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failed += "child ended with status " + std::to_string(status) + "\n";
    }
    return failed;
}

// Standard input replaced by fd for the life of the object.
class stdin_replaced {
public:
    explicit stdin_replaced(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
    ~stdin_replaced() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }
    stdin_replaced(const stdin_replaced&) = delete;
    stdin_replaced& operator=(const stdin_replaced&) = delete;

private:
    int saved_;
};

TEST(terminal_key_source, piped_input_is_never_read) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "qs\n", 3), 3);
    {
        stdin_replaced redirected(ends[0]);
        auto keys = make_terminal_key_source();
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(keys->poll_key(), key_none);
        }
        keys->restore();
        char left[8] = {};
        EXPECT_EQ(read(STDIN_FILENO, left, sizeof left), 3);
        EXPECT_EQ(std::string_view(left, 3), "qs\n");
    }
    close(ends[0]);
    close(ends[1]);
}

TEST(terminal_key_source, null_device_and_closed_pipe_give_no_keys) {
    int null_device = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_device, 0);
    {
        stdin_replaced redirected(null_device);
        auto keys = make_terminal_key_source();
        EXPECT_EQ(keys->poll_key(), key_none);
        EXPECT_EQ(keys->poll_key(), key_none);
    }
    close(null_device);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[1]);
    {
        stdin_replaced redirected(ends[0]);
        auto keys = make_terminal_key_source();
        EXPECT_EQ(keys->poll_key(), key_none);
    }
    close(ends[0]);
}

TEST(terminal_key_source, reads_keys_one_batch_at_a_time) {
    std::string failed = run_on_own_terminal([](int master) {
        findings check;
        termios found = mode_of_stdin();
        auto keys = make_terminal_key_source();
        check.expect(keys->poll_key() == key_none, "key with nothing typed");
        check.expect(in_key_mode(mode_of_stdin()), "first poll did not set key mode");

        type(master, "s");
        check.expect(keys->poll_key() == 's', "s");
        type(master, "\x1b[B");
        check.expect(keys->poll_key() == 's', "arrow down");
        type(master, "\x1bOA");
        check.expect(keys->poll_key() == 'b', "arrow up, application mode");
        type(master, "\xe9");
        check.expect(keys->poll_key() == -23, "high byte not sign-extended");
        type(master, "\x1b[15~");
        check.expect(keys->poll_key() == key_none, "function key gave a code");

        type(master, "q+s");
        check.expect(keys->poll_key() == 'q', "first of a batch");
        // More than one read takes: the rest is flushed unread.
        type(master, "s" + std::string(300, '+'));
        check.expect(keys->poll_key() == 's', "first of a long batch");
        check.expect(!readable(STDIN_FILENO, 100), "rest of a long batch not flushed");
        check.expect(keys->poll_key() == key_none, "rest of a long batch read");

        keys->restore();
        check.expect(same_mode(mode_of_stdin(), found), "restore did not give back the mode");
        return check.text;
    });
    EXPECT_EQ(failed, "");
}

TEST(terminal_key_source, restore_gives_back_only_what_it_took) {
    std::string failed = run_on_own_terminal([](int) {
        findings check;
        termios found = mode_of_stdin();
        termios changed = found;
        {
            auto keys = make_terminal_key_source();
            keys->poll_key();
            keys->restore();
            check.expect(same_mode(mode_of_stdin(), found), "first restore");

            // Changed by someone else after the restore: a second restore
            // must leave it, the next poll take it again.
            changed.c_cc[VERASE] = 8;
            changed.c_lflag &= ~static_cast<tcflag_t>(ECHOE);
            tcsetattr(STDIN_FILENO, TCSANOW, &changed);
            keys->restore();
            check.expect(same_mode(mode_of_stdin(), changed), "second restore changed the mode");
            keys->poll_key();
            check.expect(in_key_mode(mode_of_stdin()), "poll after restore did not take it again");
        }
        check.expect(same_mode(mode_of_stdin(), changed), "destructor did not restore");
        return check.text;
    });
    EXPECT_EQ(failed, "");
}

std::atomic<int> interrupts{0};

TEST(terminal_key_source, ctrl_c_still_interrupts) {
    std::string failed = run_on_own_terminal([](int master) {
        findings check;
        signal(SIGINT, [](int) { interrupts.fetch_add(1); });
        auto keys = make_terminal_key_source();
        keys->poll_key();
        ssize_t written = write(master, "\x03", 1);
        (void)written;
        for (int waited = 0; waited < 2000 && interrupts.load() == 0; waited += 10) {
            usleep(10000);
        }
        check.expect(interrupts.load() == 1, "Ctrl-C raised no SIGINT");
        keys->restore();
        return check.text;
    });
    EXPECT_EQ(failed, "");
}

// A job of the session leader's terminal, in a process group of its own, that
// steps through checks when told to and reports each result as one byte.
struct job {
    pid_t pid = -1;
    int to_job = -1;
    int from_job = -1;

    // Waits for the job's next report; 'T' if it stopped, '?' on time-out.
    char next_report() {
        for (int waited = 0; waited < 3000; waited += 10) {
            if (readable(from_job, 10)) {
                char result = '?';
                return read(from_job, &result, 1) == 1 ? result : '?';
            }
            int status = 0;
            if (waitpid(pid, &status, WNOHANG | WUNTRACED) == pid && WIFSTOPPED(status)) {
                return 'T';
            }
        }
        return '?';
    }
    void go() {
        ssize_t written = write(to_job, "g", 1);
        (void)written;
    }
};

job start_job(const std::function<void(int to_parent, int from_parent)>& steps) {
    int down[2];
    int up[2];
    job started;
    if (pipe(down) != 0 || pipe(up) != 0) {
        return started;
    }
    started.pid = fork();
    if (started.pid == 0) {
        setpgid(0, 0);
        // Not the leader's signal mask: a job must be stoppable by the
        // terminal to show that it never is.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        steps(up[1], down[0]);
        _exit(0);
    }
    setpgid(started.pid, started.pid);
    started.to_job = down[1];
    started.from_job = up[0];
    return started;
}

void report(int to_parent, bool ok) {
    ssize_t written = write(to_parent, ok ? "y" : "n", 1);
    (void)written;
}

void wait_for_go(int from_parent) {
    char go = 0;
    ssize_t count = read(from_parent, &go, 1);
    (void)count;
}

TEST(terminal_key_source, background_job_leaves_the_terminal_alone) {
    std::string failed = run_on_own_terminal([](int master) {
        findings check;
        // The leader hands the terminal to the job and takes it back.
        sigset_t no_ttou;
        sigemptyset(&no_ttou);
        sigaddset(&no_ttou, SIGTTOU);
        sigprocmask(SIG_BLOCK, &no_ttou, nullptr);
        termios found = mode_of_stdin();
        // A whole line, as the terminal is still in line mode.
        type(master, "q\n");

        job keys_job = start_job([found](int to_parent, int from_parent) {
            auto keys = make_terminal_key_source();
            report(to_parent, keys->poll_key() == key_none && same_mode(mode_of_stdin(), found));
            wait_for_go(from_parent);
            report(to_parent, keys->poll_key() == 'q');
            wait_for_go(from_parent);
            report(to_parent, keys->poll_key() == key_none);
            keys->restore();
            report(to_parent, true);
        });
        check.expect(keys_job.next_report() == 'y', "background poll read or stopped");
        check.expect(readable(STDIN_FILENO, 0), "background poll took the typed key");

        tcsetpgrp(STDIN_FILENO, keys_job.pid);
        keys_job.go();
        check.expect(keys_job.next_report() == 'y', "foreground poll missed the key");
        check.expect(in_key_mode(mode_of_stdin()), "foreground poll did not set key mode");

        tcsetpgrp(STDIN_FILENO, getpgrp());
        keys_job.go();
        check.expect(keys_job.next_report() == 'y', "poll back in the background");
        check.expect(keys_job.next_report() == 'y', "restore from the background stopped");
        check.expect(same_mode(mode_of_stdin(), found), "restore from the background");

        kill(keys_job.pid, SIGKILL);
        waitpid(keys_job.pid, nullptr, 0);
        return check.text;
    });
    EXPECT_EQ(failed, "");
}

TEST(terminal_key_source, ctrl_z_gives_the_terminal_back_until_resumed) {
    std::string failed = run_on_own_terminal([](int master) {
        findings check;
        termios found = mode_of_stdin();
        job keys_job = start_job([](int to_parent, int from_parent) {
            // Only once it is the foreground job: a poll from the
            // background rightly leaves the terminal alone.
            wait_for_go(from_parent);
            auto keys = make_terminal_key_source();
            keys->poll_key();
            report(to_parent, true);
            report(to_parent, poll_until_key(*keys, 5000) == 's');
            keys->restore();
        });
        tcsetpgrp(STDIN_FILENO, keys_job.pid);
        keys_job.go();
        check.expect(keys_job.next_report() == 'y', "job did not start");
        check.expect(in_key_mode(mode_of_stdin()), "job did not set key mode");

        ssize_t written = write(master, "\x1a", 1);
        (void)written;
        check.expect(keys_job.next_report() == 'T', "Ctrl-Z did not stop the job");
        check.expect(same_mode(mode_of_stdin(), found), "stopped job kept the terminal");

        kill(keys_job.pid, SIGCONT);
        bool taken_again = false;
        for (int waited = 0; waited < 2000 && !taken_again; waited += 10) {
            taken_again = in_key_mode(mode_of_stdin());
            usleep(10000);
        }
        check.expect(taken_again, "resumed job did not take the terminal again");
        written = write(master, "s", 1);
        check.expect(keys_job.next_report() == 'y', "resumed job missed the key");
        int status = 0;
        waitpid(keys_job.pid, &status, 0);
        check.expect(WIFEXITED(status), "job did not end");
        check.expect(same_mode(mode_of_stdin(), found), "job did not give the terminal back");
        return check.text;
    });
    EXPECT_EQ(failed, "");
}

}  // namespace
