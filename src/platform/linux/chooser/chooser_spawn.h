#pragma once

#include <string>
#include <vector>

// What became of a helper program run to its end.
struct program_run {
    enum class outcome { exited, killed, not_started, interrupted };
    outcome status = outcome::not_started;
    int exit_code = -1;  // when exited
    std::string output;  // everything it wrote to standard output
};

// Runs the program at the path given (no PATH search, no shell) with the
// argument vector given, standard input from /dev/null, standard error
// discarded, and collects its standard output until it ends. A signal that
// interrupts the wait (EINTR) ends the child at once: it is killed, reaped,
// and the run reports interrupted so the caller can act on the signal.
program_run run_program(const std::string& path, const std::vector<std::string>& arguments);
