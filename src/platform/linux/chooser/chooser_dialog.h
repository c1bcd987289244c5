#pragma once

#include <string>
#include <vector>

#include "platform/file_chooser.h"

// The directory made absolute against the current directory, without a
// trailing separator; the current directory itself for an empty name.
std::string absolute_directory(const std::string& directory);

// The argument vectors, program name first, for a multiple-selection open
// dialog that starts in the directory given and prints one path per line.
std::vector<std::string> zenity_arguments(const std::string& title, const std::string& directory);
std::vector<std::string> kdialog_arguments(const std::string& title, const std::string& directory);

// Runs the dialog program and reads its answer: chosen only when it exits
// with status 0 and prints at least one path; a cancel in every other case.
chooser_result run_dialog(const std::string& program_path, const std::vector<std::string>& arguments);
