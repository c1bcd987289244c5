#pragma once

#include <string>

// One line at the bottom of a terminal, below everything the run prints: the
// status line on standard output while a tone plays, the progress bar on
// standard error while an export runs. The run takes it away before it
// prints anything else, and draws it again afterwards.
struct terminal_line {
    virtual ~terminal_line() = default;
    // The stream is a terminal that can redraw a line in place.
    virtual bool usable() = 0;
    // Columns of the terminal now, read afresh so that a resize is followed;
    // 0 when the terminal does not tell.
    virtual int width() = 0;
    // Whether the line is on the terminal now. Stopping the job (Ctrl-Z)
    // takes it away.
    virtual bool showing() = 0;
    // Draws text, shorter than the width and without a line end, in place of
    // the line shown. Draws nothing while the program is in the background.
    virtual void show(const std::string& text) = 0;
    // Takes the line away, leaving the cursor at the start of the empty line.
    virtual void erase() = 0;
};

// For a system whose back end has none: never usable.
struct no_terminal_line final : terminal_line {
    bool usable() override { return false; }
    int width() override { return 0; }
    bool showing() override { return false; }
    void show(const std::string&) override {}
    void erase() override {}
};

inline terminal_line& none_terminal_line() {
    static no_terminal_line none;
    return none;
}
