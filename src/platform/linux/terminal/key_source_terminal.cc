#include "platform/linux/terminal/key_source_terminal.h"

#include <cerrno>
#include <csignal>
#include <span>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/linux/terminal/job_signals.h"
#include "platform/linux/terminal/terminal_keys.h"
#include "platform/linux/terminal/terminal_line_tty.h"

namespace {

constexpr int terminal_fd = STDIN_FILENO;
// One read takes at most this many bytes; whatever else is waiting is
// flushed with the rest of the batch.
constexpr std::size_t batch_size = 128;

// The terminal is process-wide and the stop and continue handlers need to
// reach it, so its state is too. Written by the main thread with the job
// control signals blocked; read by the handlers.
struct terminal_state {
    termios original{};  // as found when keys were first read
    termios keyed{};     // the mode keys are read in
    struct sigaction previous_stop{};
    struct sigaction previous_continue{};
    volatile sig_atomic_t taken = 0;      // original saved, handlers installed
    volatile sig_atomic_t suspended = 0;  // given back for a Ctrl-Z stop
    volatile sig_atomic_t stop_ignored = 0;
};

terminal_state state;

bool in_foreground() {
    return tcgetpgrp(terminal_fd) == getpgrp();
}

void on_stop(int);
void on_continue(int);

// Ctrl-Z: give the terminal back, without the status line, then stop as if
// unhandled. The process stops inside this handler; on_continue runs when it
// is resumed, and the status line is drawn again at its next update.
void on_stop(int) {
    int saved_errno = errno;
    erase_terminal_lines_for_stop();
    if (state.taken && !state.suspended) {
        tcsetattr(terminal_fd, TCSANOW, &state.original);
        state.suspended = 1;
    }
    stop_as_if_unhandled();
    // Resumed. on_continue has normally run by now; if the stop was
    // discarded (an orphaned job) it has not, and the handler must be back.
    if (state.taken) {
        install_job_handler(SIGTSTP, on_stop, nullptr);
    }
    errno = saved_errno;
}

// Resumed, whether after Ctrl-Z or any other stop: take the terminal again
// if this job has it. A job resumed in the background leaves it alone; the
// next poll in the foreground takes it.
void on_continue(int) {
    int saved_errno = errno;
    if (state.taken) {
        if (!state.stop_ignored) {
            install_job_handler(SIGTSTP, on_stop, nullptr);
        }
        if (in_foreground() && tcsetattr(terminal_fd, TCSANOW, &state.keyed) == 0) {
            state.suspended = 0;
        }
    }
    errno = saved_errno;
}

termios key_mode(const termios& original) {
    termios mode = original;
    // Keys arrive one by one without echo; Ctrl-C and Ctrl-Z still signal.
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    // Ctrl-S would freeze the progress output and with it the playback.
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON);
    // Nothing gives the terminal back on a quit signal's core dump, so
    // Ctrl-\ is read as a plain key instead.
    mode.c_cc[VQUIT] = _POSIX_VDISABLE;
    return mode;
}

// Called with the job control signals blocked, in the foreground.
bool take_terminal() {
    if (state.taken) {
        if (state.suspended) {
            if (tcsetattr(terminal_fd, TCSANOW, &state.keyed) != 0) {
                return false;
            }
            state.suspended = 0;
        }
        return true;
    }
    termios found{};
    if (tcgetattr(terminal_fd, &found) != 0) {
        return false;
    }
    state.original = found;
    state.keyed = key_mode(found);
    install_job_handler(SIGTSTP, on_stop, &state.previous_stop);
    // A job started with Ctrl-Z ignored is not meant to stop; keep it so.
    state.stop_ignored = state.previous_stop.sa_handler == SIG_IGN;
    if (state.stop_ignored) {
        sigaction(SIGTSTP, &state.previous_stop, nullptr);
    }
    install_job_handler(SIGCONT, on_continue, &state.previous_continue);
    state.suspended = 0;
    // Marked before the terminal changes, so that a restore from a signal
    // handler at any point from here on gives it back.
    state.taken = 1;
    if (tcsetattr(terminal_fd, TCSANOW, &state.keyed) != 0) {
        sigaction(SIGTSTP, &state.previous_stop, nullptr);
        sigaction(SIGCONT, &state.previous_continue, nullptr);
        state.taken = 0;
        return false;
    }
    return true;
}

// Only async-signal-safe calls: the exit path may run this from a handler.
void give_back_terminal() {
    sigset_t block;
    sigset_t before;
    sigemptyset(&block);
    sigaddset(&block, SIGTSTP);
    sigaddset(&block, SIGCONT);
    sigaddset(&block, SIGTTOU);
    sigprocmask(SIG_BLOCK, &block, &before);
    if (state.taken) {
        // From the background too: SIGTTOU is blocked, so this cannot stop
        // the process, and the terminal must not stay without echo.
        tcsetattr(terminal_fd, TCSANOW, &state.original);
        sigaction(SIGTSTP, &state.previous_stop, nullptr);
        sigaction(SIGCONT, &state.previous_continue, nullptr);
        state.suspended = 0;
        state.taken = 0;
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

int read_key() {
    pollfd waiting{terminal_fd, POLLIN, 0};
    if (poll(&waiting, 1, 0) <= 0 || (waiting.revents & POLLIN) == 0) {
        return key_none;
    }
    unsigned char batch[batch_size];
    ssize_t count = read(terminal_fd, batch, sizeof batch);
    if (count < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
            return key_none;
        }
        // Moved to the background between the check and the read.
        if (errno == EIO && !in_foreground()) {
            return key_none;
        }
        return key_read_failed;
    }
    if (count == 0) {
        return key_none;
    }
    tcflush(terminal_fd, TCIFLUSH);
    return first_terminal_key(std::span<const unsigned char>(batch, static_cast<std::size_t>(count)));
}

class terminal_key_source final : public key_source {
public:
    terminal_key_source() = default;
    terminal_key_source(const terminal_key_source&) = delete;
    terminal_key_source& operator=(const terminal_key_source&) = delete;
    ~terminal_key_source() override { restore(); }

    int poll_key() override {
        // Files, pipes and /dev/null are never read: their data is not keys.
        if (!has_terminal()) {
            return key_none;
        }
        job_signals_blocked blocked;
        if (!in_foreground() || !take_terminal()) {
            return key_none;
        }
        return read_key();
    }

    void restore() override { give_back_terminal(); }

    // Only once the keys' mode is set does a single key make the terminal
    // readable; before that (and in the background) the run looks again by
    // its own deadline.
    wait_handle ready_handle() override {
        if (!has_terminal() || state.taken == 0 || state.suspended != 0 || !in_foreground()) return {};
        return {terminal_fd, wait_handle::ready::to_read};
    }

    bool has_terminal() override {
        if (!checked_) {
            checked_ = true;
            on_terminal_ = isatty(terminal_fd) == 1;
        }
        return on_terminal_;
    }

private:
    void check_terminal() {
        if (!checked_) {
            checked_ = true;
            on_terminal_ = isatty(terminal_fd) == 1;
        }
    }

    bool checked_ = false;
    bool on_terminal_ = false;
};

}  // namespace

std::unique_ptr<key_source> make_terminal_key_source() {
    return std::make_unique<terminal_key_source>();
}
