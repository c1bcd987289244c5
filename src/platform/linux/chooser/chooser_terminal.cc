#include "platform/linux/chooser/chooser_terminal.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <istream>
#include <ostream>
#include <system_error>

#include "log/log.h"
#include "platform/linux/chooser/chooser_dialog.h"
#include "platform/linux/interruptible_wait.h"
#include "process/exit.h"

terminal_selection parse_terminal_selection(std::string_view line, std::size_t count) {
    terminal_selection selection;
    const std::string_view separators = " \t,\r";
    std::size_t start = line.find_first_not_of(separators);
    while (start != std::string_view::npos) {
        std::size_t end = line.find_first_of(separators, start);
        if (end == std::string_view::npos) end = line.size();
        const std::string_view word = line.substr(start, end - start);
        start = line.find_first_not_of(separators, end);

        // Digits only, and no more of them than any real count needs, so
        // that a long run of digits cannot overflow.
        const bool digits = word.size() <= 9 && std::all_of(word.begin(), word.end(), [](char c) {
                                return c >= '0' && c <= '9';
                            });
        std::size_t number = 0;
        if (digits) {
            for (char c : word) number = number * 10 + static_cast<std::size_t>(c - '0');
        }
        if (!digits || number < 1 || number > count) {
            selection.rejected.emplace_back(word);
            continue;
        }
        // A dialog cannot pick one file twice; neither can this list.
        if (std::find(selection.chosen.begin(), selection.chosen.end(), number - 1) == selection.chosen.end()) {
            selection.chosen.push_back(number - 1);
        }
    }
    return selection;
}

std::vector<std::string> list_regular_files(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entries(directory, error);
    if (error) return names;
    for (const std::filesystem::directory_entry& entry : entries) {
        std::error_code status_error;
        if (entry.is_regular_file(status_error)) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// Waits until standard input has a line: false when a signal (Ctrl-C) ends
// the wait, which a read would go on through.
bool line_waiting(std::istream& input) {
    if (&input != &std::cin) return true;
    return wait_for_fd(STDIN_FILENO, POLLIN, pending_signal);
}

}  // namespace

chooser_result choose_on_terminal(const std::string& title, const std::string& initial_dir, std::istream& input,
                                  std::ostream& messages) {
    std::error_code error;
    if (!std::filesystem::is_directory(initial_dir, error)) {
        messages << program_name << ": " << initial_dir << ": no such folder\n" << std::flush;
        return {};
    }
    const std::vector<std::string> names = list_regular_files(initial_dir);
    if (names.empty()) {
        messages << program_name << ": " << initial_dir << ": no files to choose from\n" << std::flush;
        return {};
    }

    messages << title << " in " << initial_dir << ":\n";
    for (std::size_t i = 0; i < names.size(); ++i) messages << "  " << (i + 1) << "  " << names[i] << "\n";
    messages << "Numbers, separated by blanks or commas (empty line to cancel): " << std::flush;

    std::string line;
    if (!line_waiting(input) || !std::getline(input, line)) {
        messages << "\n" << std::flush;
        return {};
    }
    const terminal_selection selection = parse_terminal_selection(line, names.size());
    for (const std::string& word : selection.rejected) {
        messages << program_name << ": " << word << ": not a file number: ignored\n";
    }
    messages << std::flush;
    if (selection.chosen.empty()) return {};

    // The same shapes a dialog gives: a full path, or the folder and names.
    const std::string directory = absolute_directory(initial_dir);
    chooser_result result;
    result.status = chooser_result::outcome::chosen;
    if (selection.chosen.size() == 1) {
        result.strings.push_back((directory == "/" ? "" : directory) + "/" + names[selection.chosen.front()]);
        return result;
    }
    result.strings.push_back(directory);
    for (std::size_t index : selection.chosen) result.strings.push_back(names[index]);
    return result;
}
