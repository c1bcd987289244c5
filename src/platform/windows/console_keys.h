#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>

// The key code of a batch of console input records: the first key press
// decides; arrow up and keypad 8 give 'b', arrow down and keypad 2 give 's',
// any other key its character, sign-extended (0 for Shift, Ctrl, function
// keys). Nothing when the batch holds no key press at all.
std::optional<int> first_console_key(const INPUT_RECORD* records, std::size_t count);
