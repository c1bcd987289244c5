#pragma once

#include <csignal>

#include <pthread.h>

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
