#include "platform/linux/chooser/chooser_backend.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/chooser/chooser_dialog.h"
#include "platform/linux/chooser/chooser_terminal.h"

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

chooser_backend choose_backend(const chooser_environment& environment) {
    const bool graphical = !environment.display.empty() || !environment.wayland_display.empty();
    if (graphical && !environment.zenity_path.empty()) return chooser_backend::zenity;
    if (graphical && !environment.kdialog_path.empty()) return chooser_backend::kdialog;
    // A desktop without either program still has the terminal, if any.
    if (environment.stdin_is_terminal) return chooser_backend::terminal;
    return chooser_backend::none;
}

std::string find_program(const std::string& name, const std::string& search_path) {
    if (name.empty()) return "";
    if (name.find('/') != std::string::npos) return is_executable_file(name) ? name : "";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = search_path.find(':', start);
        if (end == std::string::npos) end = search_path.size();
        const std::string directory = search_path.substr(start, end - start);
        const std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + name;
        if (is_executable_file(candidate)) return candidate;
        if (end == search_path.size()) return "";
        start = end + 1;
    }
}

chooser_environment current_chooser_environment() {
    chooser_environment environment;
    environment.display = variable("DISPLAY");
    environment.wayland_display = variable("WAYLAND_DISPLAY");
    const std::string search_path = variable("PATH");
    environment.zenity_path = find_program("zenity", search_path);
    environment.kdialog_path = find_program("kdialog", search_path);
    environment.stdin_is_terminal = isatty(STDIN_FILENO) == 1;
    return environment;
}

chooser_result run_chooser(const chooser_environment& environment, const std::string& title,
                           const std::string& initial_dir, std::istream& input, std::ostream& messages) {
    switch (choose_backend(environment)) {
    case chooser_backend::zenity:
        return run_dialog(environment.zenity_path, zenity_arguments(title, absolute_directory(initial_dir)));
    case chooser_backend::kdialog:
        return run_dialog(environment.kdialog_path, kdialog_arguments(title, absolute_directory(initial_dir)));
    case chooser_backend::terminal:
        return choose_on_terminal(title, initial_dir, input, messages);
    case chooser_backend::none:
        break;
    }
    return {};
}
