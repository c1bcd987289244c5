#pragma once

#include <cstddef>
#include <span>

// One key press decoded from the bytes a terminal sends.
struct terminal_key {
    int code;            // key code as key_source.h defines it; 0 for none
    std::size_t length;  // bytes the key press took up; 0 only for no bytes

    friend bool operator==(const terminal_key&, const terminal_key&) = default;
};

// Decodes the key press at the start of bytes. Escape sequences are taken
// whole: the arrows and keypad 8 and 2 become 'b' and 's', the other keypad
// keys their characters, and a lone Escape, an Alt chord, a function key or
// any sequence not known here gives 0, never the letters it is spelt with.
// A sequence cut off by the end of bytes is taken whole as well.
terminal_key decode_terminal_key(std::span<const unsigned char> bytes);

// The code of the first key press in a batch; the rest of the batch is
// ignored.
int first_terminal_key(std::span<const unsigned char> batch);
