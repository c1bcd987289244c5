#pragma once

#include <cstddef>

#include "platform/file_chooser.h"

// What the open dialog left in its selection buffer: one full path, or a
// directory followed by names, each ended by a zero byte, the list by an
// empty string. The byte after the first string tells the two apart. A
// buffer without its terminators counts as no selection.
chooser_result read_selection_buffer(const char* buffer, std::size_t size);
