#pragma once

#include <climits>

// Key codes: 0 is no key; otherwise a character code sign-extended from a
// signed char. Arrow up and keypad 8 arrive as 'b', arrow down and keypad 2
// as 's'.
constexpr int key_none = 0;
// Reading the console failed after input was seen to be waiting.
constexpr int key_read_failed = INT_MIN;
// The console's input handle could not be had.
constexpr int key_console_missing = INT_MIN + 1;

struct key_source {
    virtual ~key_source() = default;
    // The first key press waiting, or key_none; never blocks. Whatever else is
    // waiting in the same batch is discarded.
    virtual int poll_key() = 0;
    // Gives the console back exactly as it was found. Safe to call repeatedly.
    virtual void restore() {}
    // Whether a key can come at all: false where input is a file, a pipe or
    // /dev/null, which are never read as keys.
    virtual bool takes_keys() { return true; }
};
