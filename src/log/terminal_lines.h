#pragma once

#include <string>

// The lines that the run keeps at the bottom of the terminal
// (platform/terminal_line.h). Everything printed takes them away first, so
// that the scrollback holds only what the run prints; their owners draw
// them again at their next update.

enum class terminal_line_role {
    status,    // standard output, while a tone plays
    progress,  // standard error, while an export runs
};

// The columns the line may use, or 0 when it cannot be drawn at all.
int terminal_line_width(terminal_line_role role);
// Draws text unless exactly that is on the terminal already; empty text
// takes the line away. True when it drew.
bool offer_terminal_line(terminal_line_role role, const std::string& text);
// Takes both lines off the terminal: before anything is printed, and at the
// end of the run.
void clear_terminal_lines();
// Forgets what an earlier run drew (in-process runs).
void reset_terminal_lines();
