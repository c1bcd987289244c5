#pragma once

#include <string>
#include <vector>

// What a multi-select file-open dialog hands back: one full path, or a
// directory followed by the chosen names.
struct chooser_result {
    // unsupported: the system is too old for the dialog.
    enum class outcome { chosen, cancelled, too_many, unsupported };
    outcome status = outcome::cancelled;
    // One element: the full path of the single file chosen. Two or more: the
    // directory, then each chosen name in the dialog's order.
    std::vector<std::string> strings;
};

struct file_chooser {
    virtual ~file_chooser() = default;
    virtual chooser_result choose(const std::string& title, const std::string& initial_dir) = 0;
};
