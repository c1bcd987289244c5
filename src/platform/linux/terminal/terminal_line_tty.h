#pragma once

#include <memory>

#include "platform/terminal_line.h"

// The line at the bottom of the terminal that standard output (fd 1) or
// standard error (fd 2) writes to. Usable when that stream is a terminal and
// TERM names one that is not "dumb".
std::unique_ptr<terminal_line> make_tty_terminal_line(int fd);

// Takes every line off the terminal before the job stops (the key source's
// Ctrl-Z handler). They are drawn again at their next update. Only
// async-signal-safe calls.
void erase_terminal_lines_for_stop();
