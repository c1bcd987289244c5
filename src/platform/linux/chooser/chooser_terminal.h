#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_chooser.h"

// The numbers typed at the terminal chooser's prompt.
struct terminal_selection {
    std::vector<std::size_t> chosen;    // 0-based, in the order typed, no repeats
    std::vector<std::string> rejected;  // words that name no listed file
};

// Reads "2 3", "2,3", "2, 3" and the like against a list of count files,
// numbered from 1.
terminal_selection parse_terminal_selection(std::string_view line, std::size_t count);

// The regular files of the directory, by name, sorted; empty when the
// directory cannot be read.
std::vector<std::string> list_regular_files(const std::string& directory);

// Lists the regular files of initial_dir, numbered, on messages, and reads
// one line of numbers from input. A missing or empty folder, an empty line,
// the end of input or a line without one valid number is a cancel.
chooser_result choose_on_terminal(const std::string& title, const std::string& initial_dir, std::istream& input,
                                  std::ostream& messages);
