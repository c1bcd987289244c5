#pragma once

#include <csignal>

// Ending the run unwinds to run_tonquel, which returns the status; main turns
// it into the process exit. Nothing below the run entry catches this.
struct run_exit {
    int code;
};

// Runs the release steps (process/release.h), in order the lines not yet
// handed to the record's files, the input device, the
// output device, the export, the session file, the MOR file and the
// terminal, and ends the run with code; 1 instead of 0 when part of the
// record was lost.
[[noreturn]] void cleanup_and_exit(int code);
// The status the run ends with, as far as the release steps done so far
// decide it: for the steps that tell it on.
int ending_status();
// Ends the run as a plain process exit would: the session and MOR files are
// closed, nothing else is released.
[[noreturn]] void exit_closing_files(int code);
// The interrupt's action, also taken by the quit key: the interrupt steps,
// then cleanup_and_exit(0).
[[noreturn]] void on_sigint(int signal_number);

// The signal handlers only note the signal; the run acts on it here, at every
// point where it waits or loops.
extern volatile std::sig_atomic_t pending_signal;
inline void check_interrupt() {
    if (pending_signal != 0) on_sigint(pending_signal);
}
void install_signal_handlers();
void remove_signal_handlers();
