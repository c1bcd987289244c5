#pragma once

// Appends the file's tone and comment lines to the schedule. 0 when the whole
// file was read; -1 (reported) when it cannot be opened or a line is bad.
int read_frequency_file(const char* path);
