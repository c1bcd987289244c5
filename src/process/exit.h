#pragma once

#include <csignal>

// Ending the run unwinds to run_tonquel, which returns the status; main turns
// it into the process exit. Nothing below the run entry catches this.
struct run_exit {
    int code;
    bool plain;  // no teardown: a plain process exit closes the files
};

// Releases, in order, the input device, the output device, the session file
// and the MOR file, gives the terminal back, and ends the run with code.
[[noreturn]] void cleanup_and_exit(int code);
// Ends the run as the process exit would, without the device teardown.
[[noreturn]] void plain_exit(int code);
// The interrupt's action, also taken by the quit key.
[[noreturn]] void on_sigint(int signal_number);

// The signal handlers only note the signal; the run acts on it here, at every
// point where it waits or loops.
extern volatile std::sig_atomic_t pending_signal;
inline void check_interrupt() {
    if (pending_signal != 0) on_sigint(pending_signal);
}
void install_signal_handlers();
void remove_signal_handlers();
