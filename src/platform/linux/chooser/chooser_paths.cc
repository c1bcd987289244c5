#include "platform/linux/chooser/chooser_paths.h"

#include <cstddef>

namespace {

// The directory part of a path as the dialog printed it: "/" for a file in
// the root, "." for a bare name.
std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The longest directory, whole components only, that holds every path.
// "/a/b/x" and "/a/c/y" give "/a"; "/a/x" and "/b/y" give "/".
std::string common_directory(const std::vector<std::string>& paths) {
    std::string common = directory_of(paths.front());
    for (const std::string& path : paths) {
        while (common != "/" && common != "." &&
               !(path.size() > common.size() && path.compare(0, common.size(), common) == 0 &&
                 path[common.size()] == '/')) {
            common = directory_of(common);
        }
    }
    return common;
}

}  // namespace

std::vector<std::string> split_chooser_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

chooser_result shape_chosen_paths(const std::vector<std::string>& paths) {
    chooser_result result;
    if (paths.empty()) return result;
    result.status = chooser_result::outcome::chosen;
    if (paths.size() == 1) {
        result.strings = paths;
        return result;
    }

    // The usual case: every file from the one folder the dialog showed.
    const std::string first_dir = directory_of(paths.front());
    bool one_directory = true;
    for (const std::string& path : paths) one_directory = one_directory && directory_of(path) == first_dir;
    if (one_directory) {
        result.strings.push_back(first_dir);
        for (const std::string& path : paths) result.strings.push_back(name_of(path));
        return result;
    }

    // Files from several folders (a dialog that allows it, or a typed path):
    // keep the shape by naming each file relative to the deepest folder that
    // holds them all, so that "directory/name" is still the full path.
    // Relative paths share "." and keep their own folders in their names. A
    // mix of absolute and relative paths has no such folder; no dialog prints
    // one, so it counts as a failed dialog rather than a guess.
    std::size_t absolute = 0;
    for (const std::string& path : paths) absolute += path.front() == '/' ? 1 : 0;
    if (absolute != 0 && absolute != paths.size()) return {};
    const std::string common = common_directory(paths);
    result.strings.push_back(common);
    for (const std::string& path : paths) {
        if (common == ".") {
            result.strings.push_back(path);
        } else if (common == "/") {
            result.strings.push_back(path.substr(1));
        } else {
            result.strings.push_back(path.substr(common.size() + 1));
        }
    }
    return result;
}

chooser_result parse_chooser_output(std::string_view text) {
    return shape_chosen_paths(split_chooser_lines(text));
}
