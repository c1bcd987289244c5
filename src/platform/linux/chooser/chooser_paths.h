#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_chooser.h"

// Splits what a dialog program printed into its paths: one per line, blank
// lines dropped, nothing else trimmed (names may hold blanks).
std::vector<std::string> split_chooser_lines(std::string_view text);

// Puts chosen full paths into the two shapes of chooser_result: one path
// alone, or a directory followed by names. No paths is a cancel.
chooser_result shape_chosen_paths(const std::vector<std::string>& paths);

// Both of the above: a dialog program's standard output to a result.
chooser_result parse_chooser_output(std::string_view text);
