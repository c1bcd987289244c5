#pragma once

#include <iosfwd>
#include <string>

#include "platform/file_chooser.h"

// What decides which chooser to show, gathered once per choice so that tests
// can build it by hand.
struct chooser_environment {
    std::string display;          // DISPLAY, empty when unset
    std::string wayland_display;  // WAYLAND_DISPLAY, empty when unset
    std::string zenity_path;      // full path of zenity, empty when not found
    std::string kdialog_path;     // full path of kdialog, empty when not found
    bool stdin_is_terminal = false;
};

enum class chooser_backend { zenity, kdialog, terminal, none };

// A dialog in a graphical session, zenity first; the numbered list when
// standard input is a terminal; otherwise nothing to ask.
chooser_backend choose_backend(const chooser_environment& environment);

// The first executable regular file called name in the colon-separated
// directory list, as execvp would search it (an empty entry is the current
// directory); empty when there is none.
std::string find_program(const std::string& name, const std::string& search_path);

// The environment of this process: its variables, PATH, and standard input.
chooser_environment current_chooser_environment();

// Shows the chooser that the environment calls for. The terminal chooser
// reads its answer from input and writes its list and prompt to messages.
chooser_result run_chooser(const chooser_environment& environment, const std::string& title,
                           const std::string& initial_dir, std::istream& input, std::ostream& messages);
