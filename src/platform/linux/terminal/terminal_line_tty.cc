#include "platform/linux/terminal/terminal_line_tty.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/linux/terminal/job_signals.h"

namespace {

// Back to the start of the line and clear from there to the end of the
// screen. The cursor is kept at the start of the line, not after its text:
// a terminal that rewraps its lines when it narrows keeps the cursor on the
// line's first row, so that this clears every row the old line now takes.
constexpr char erase_sequence[] = "\r\033[J";

// What the Ctrl-Z handler needs of a line: process-wide, one per stream.
struct line_slot {
    int fd = -1;
    volatile sig_atomic_t showing = 0;
};

line_slot slots[2];

// Async-signal-safe. Errors are ignored: a terminal that has gone away
// (hang-up) has nothing left to clean.
void write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
}

// Ctrl-Z where nothing else handles it (an export, or keys not read from
// the terminal): take the lines away, then stop as if unhandled. The key
// source installs a handler of its own while it holds the terminal, which
// does the same and gives this one back afterwards.
struct sigaction stop_before{};
bool stop_handler_installed = false;

void on_stop(int) {
    int saved_errno = errno;
    erase_terminal_lines_for_stop();
    stop_as_if_unhandled();
    // Resumed: the lines are drawn again at their next update.
    install_job_handler(SIGTSTP, on_stop, nullptr);
    errno = saved_errno;
}

// Only where Ctrl-Z would stop the job unhandled; a job started with it
// ignored is not meant to stop.
void handle_stop_if_unhandled() {
    if (stop_handler_installed) return;
    struct sigaction current {};
    if (sigaction(SIGTSTP, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
    install_job_handler(SIGTSTP, on_stop, &stop_before);
    stop_handler_installed = true;
}

void give_back_stop_handler() {
    if (!stop_handler_installed) return;
    struct sigaction current {};
    sigaction(SIGTSTP, nullptr, &current);
    if (current.sa_handler == on_stop) sigaction(SIGTSTP, &stop_before, nullptr);
    stop_handler_installed = false;
}

bool term_can_redraw() {
    const char* term = getenv("TERM");
    return term != nullptr && term[0] != '\0' && strcmp(term, "dumb") != 0;
}

class tty_terminal_line final : public terminal_line {
public:
    explicit tty_terminal_line(line_slot& slot) : slot_(slot) {}
    tty_terminal_line(const tty_terminal_line&) = delete;
    tty_terminal_line& operator=(const tty_terminal_line&) = delete;
    ~tty_terminal_line() override {
        erase();
        job_signals_blocked blocked;
        give_back_stop_handler();
    }

    bool usable() override {
        if (!checked_) {
            checked_ = true;
            usable_ = isatty(slot_.fd) == 1 && term_can_redraw();
        }
        return usable_;
    }

    int width() override {
        winsize size{};
        if (ioctl(slot_.fd, TIOCGWINSZ, &size) != 0) return 0;
        return size.ws_col;
    }

    bool showing() override { return slot_.showing != 0; }

    void show(const std::string& text) override {
        job_signals_blocked blocked;
        // A job in the background leaves the shell's line alone.
        if (tcgetpgrp(slot_.fd) != getpgrp()) return;
        handle_stop_if_unhandled();
        std::string drawn = "\r" + text + "\033[J\r";
        write_all(slot_.fd, drawn.data(), drawn.size());
        slot_.showing = 1;
    }

    void erase() override {
        job_signals_blocked blocked;
        if (slot_.showing == 0) return;
        write_all(slot_.fd, erase_sequence, sizeof erase_sequence - 1);
        slot_.showing = 0;
    }

private:
    line_slot& slot_;
    bool checked_ = false;
    bool usable_ = false;
};

}  // namespace

std::unique_ptr<terminal_line> make_tty_terminal_line(int fd) {
    line_slot& slot = slots[fd == STDERR_FILENO ? 1 : 0];
    slot.fd = fd;
    slot.showing = 0;
    return std::make_unique<tty_terminal_line>(slot);
}

void erase_terminal_lines_for_stop() {
    for (line_slot& slot : slots) {
        if (slot.showing == 0) continue;
        write_all(slot.fd, erase_sequence, sizeof erase_sequence - 1);
        slot.showing = 0;
    }
}
