#pragma once

#include <csignal>

#include <pthread.h>

// Installs the handler of a job control signal. The handlers set the
// terminal even when the job has just been put in the background; that must
// not stop the process.
inline void install_job_handler(int signal_number, void (*handler)(int), struct sigaction* previous) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGTTOU);
    sigaddset(&action.sa_mask, SIGTTIN);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, previous);
}

// From a Ctrl-Z handler: stops the process as the unhandled signal would,
// and returns once it is resumed, with SIGTSTP at its default action until
// the caller installs its handler again. Async-signal-safe.
inline void stop_as_if_unhandled() {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(SIGTSTP, &default_action, nullptr);
    raise(SIGTSTP);
    sigset_t stop_only;
    sigemptyset(&stop_only);
    sigaddset(&stop_only, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop_only, nullptr);
}

// Blocks the job control signals for its lifetime. With SIGTTIN and SIGTTOU
// blocked, a terminal call from the background fails instead of stopping
// the process; with SIGTSTP and SIGCONT blocked, their handlers never see
// the terminal's state half changed.
class job_signals_blocked {
public:
    job_signals_blocked() {
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGTSTP);
        sigaddset(&block, SIGCONT);
        sigaddset(&block, SIGTTIN);
        sigaddset(&block, SIGTTOU);
        pthread_sigmask(SIG_BLOCK, &block, &before_);
    }
    ~job_signals_blocked() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    job_signals_blocked(const job_signals_blocked&) = delete;
    job_signals_blocked& operator=(const job_signals_blocked&) = delete;

private:
    sigset_t before_{};
};
