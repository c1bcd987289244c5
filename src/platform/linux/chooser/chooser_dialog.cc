#include "platform/linux/chooser/chooser_dialog.h"

#include <filesystem>
#include <system_error>

#include "platform/linux/chooser/chooser_paths.h"
#include "platform/linux/chooser/chooser_spawn.h"

std::string absolute_directory(const std::string& directory) {
    std::error_code error;
    std::filesystem::path path =
        std::filesystem::absolute(directory.empty() ? std::filesystem::path(".") : std::filesystem::path(directory), error);
    if (error) return directory;
    path = path.lexically_normal();
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::vector<std::string> zenity_arguments(const std::string& title, const std::string& directory) {
    // The trailing slash makes zenity open the folder rather than preselect
    // a file of that name. A newline separator keeps names with blanks or
    // '|' (zenity's default separator) whole.
    const std::string start = directory == "/" ? directory : directory + "/";
    return {"zenity", "--file-selection", "--multiple", "--title=" + title, "--filename=" + start,
            "--separator=\n"};
}

std::vector<std::string> kdialog_arguments(const std::string& title, const std::string& directory) {
    return {"kdialog", "--title", title, "--multiple", "--separate-output", "--getopenfilename", directory};
}

chooser_result run_dialog(const std::string& program_path, const std::vector<std::string>& arguments) {
    const program_run run = run_program(program_path, arguments);
    if (run.status != program_run::outcome::exited || run.exit_code != 0) return {};
    return parse_chooser_output(run.output);
}
