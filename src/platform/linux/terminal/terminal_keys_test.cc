#include "platform/linux/terminal/terminal_keys.h"

#include <string_view>

#include <gtest/gtest.h>

namespace {

std::span<const unsigned char> bytes_of(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

int first_key(std::string_view text) {
    return first_terminal_key(bytes_of(text));
}

terminal_key decode(std::string_view text) {
    return decode_terminal_key(bytes_of(text));
}

TEST(terminal_keys, plain_characters_are_their_own_codes) {
    for (char c : std::string_view("+-nNbqspBSQP 0\r\t")) {
        EXPECT_EQ(first_key(std::string_view(&c, 1)), c) << int(c);
    }
    EXPECT_EQ(decode("q"), (terminal_key{'q', 1}));
    EXPECT_EQ(first_key(std::string_view("\0", 1)), 0);
    EXPECT_EQ(first_key("\x7f"), 0x7f);
    EXPECT_EQ(first_key("\x03"), 3);
}

TEST(terminal_keys, high_bytes_are_sign_extended) {
    EXPECT_EQ(first_key("\xe9"), -23);
    EXPECT_EQ(first_key("\x80"), -128);
    EXPECT_EQ(first_key("\xff"), -1);
    // The first byte of a UTF-8 character stands for the whole press.
    EXPECT_EQ(first_key("\xc3\xa9"), -61);
}

TEST(terminal_keys, arrows_in_both_cursor_modes) {
    EXPECT_EQ(decode("\x1b[A"), (terminal_key{'b', 3}));
    EXPECT_EQ(decode("\x1b[B"), (terminal_key{'s', 3}));
    EXPECT_EQ(decode("\x1bOA"), (terminal_key{'b', 3}));
    EXPECT_EQ(decode("\x1bOB"), (terminal_key{'s', 3}));
}

TEST(terminal_keys, modified_arrows_are_still_arrows) {
    EXPECT_EQ(decode("\x1b[1;5A"), (terminal_key{'b', 6}));
    EXPECT_EQ(decode("\x1b[1;2B"), (terminal_key{'s', 6}));
    EXPECT_EQ(decode("\x1bO5A"), (terminal_key{'b', 4}));
    // rxvt's shifted and control arrows
    EXPECT_EQ(first_key("\x1b[a"), 'b');
    EXPECT_EQ(first_key("\x1b[b"), 's');
    EXPECT_EQ(first_key("\x1bOa"), 'b');
    EXPECT_EQ(first_key("\x1bOb"), 's');
}

TEST(terminal_keys, left_and_right_arrows_have_no_code) {
    EXPECT_EQ(decode("\x1b[C"), (terminal_key{0, 3}));
    EXPECT_EQ(decode("\x1b[D"), (terminal_key{0, 3}));
    EXPECT_EQ(decode("\x1bOC"), (terminal_key{0, 3}));
    EXPECT_EQ(decode("\x1bOD"), (terminal_key{0, 3}));
}

TEST(terminal_keys, application_keypad) {
    EXPECT_EQ(decode("\x1bOx"), (terminal_key{'b', 3}));  // keypad 8
    EXPECT_EQ(decode("\x1bOr"), (terminal_key{'s', 3}));  // keypad 2
    // The other keys give their characters, never the letters they are
    // sent as: keypad 1 is ESC O q and must not quit.
    EXPECT_EQ(first_key("\x1bOq"), '1');
    EXPECT_EQ(first_key("\x1bOp"), '0');
    EXPECT_EQ(first_key("\x1bOs"), '3');
    EXPECT_EQ(first_key("\x1bOy"), '9');
    EXPECT_EQ(first_key("\x1bOk"), '+');
    EXPECT_EQ(first_key("\x1bOm"), '-');
    EXPECT_EQ(first_key("\x1bOn"), '.');
    EXPECT_EQ(first_key("\x1bOM"), '\r');
}

TEST(terminal_keys, lone_escape_has_no_code) {
    EXPECT_EQ(decode("\x1b"), (terminal_key{0, 1}));
    EXPECT_EQ(decode("\x1b\x1b"), (terminal_key{0, 2}));
}

TEST(terminal_keys, unknown_sequences_are_taken_whole_without_code) {
    // Function keys, editing keys and Alt chords: none may be read as the
    // letters they are spelt with (s, q, b, p, n would all act).
    EXPECT_EQ(decode("\x1b[15~"), (terminal_key{0, 5}));     // F5
    EXPECT_EQ(decode("\x1b[3~"), (terminal_key{0, 4}));      // Delete
    EXPECT_EQ(decode("\x1b[2;5~"), (terminal_key{0, 6}));    // Ctrl+Insert
    EXPECT_EQ(decode("\x1bOP"), (terminal_key{0, 3}));       // F1
    EXPECT_EQ(decode("\x1bOQ"), (terminal_key{0, 3}));       // F2
    EXPECT_EQ(decode("\x1bOS"), (terminal_key{0, 3}));       // F4
    EXPECT_EQ(decode("\x1b[[A"), (terminal_key{0, 4}));      // Linux console F1
    EXPECT_EQ(decode("\x1b[[E"), (terminal_key{0, 4}));
    EXPECT_EQ(decode("\x1b[H"), (terminal_key{0, 3}));       // Home
    EXPECT_EQ(decode("\x1b[ q"), (terminal_key{0, 4}));      // intermediate byte
    EXPECT_EQ(decode("\x1bq"), (terminal_key{0, 2}));        // Alt+q
    EXPECT_EQ(decode("\x1bs"), (terminal_key{0, 2}));
    EXPECT_EQ(decode("\x1b\x1b[A"), (terminal_key{0, 4}));   // Alt+Up
    EXPECT_EQ(decode("\x1b\x1bq"), (terminal_key{0, 3}));
}

TEST(terminal_keys, sequences_cut_off_are_taken_whole) {
    EXPECT_EQ(decode("\x1b["), (terminal_key{0, 2}));
    EXPECT_EQ(decode("\x1b[1;5"), (terminal_key{0, 5}));
    EXPECT_EQ(decode("\x1bO"), (terminal_key{0, 2}));
    EXPECT_EQ(decode("\x1b[["), (terminal_key{0, 3}));
}

TEST(terminal_keys, malformed_sequence_ends_before_the_stray_byte) {
    EXPECT_EQ(decode("\x1b[1\x03"), (terminal_key{0, 3}));
    EXPECT_EQ(decode("\x1b[1\x1b[A"), (terminal_key{0, 3}));
    EXPECT_EQ(decode("\x1bO\x1b"), (terminal_key{0, 2}));
}

TEST(terminal_keys, batch_gives_its_first_key_only) {
    EXPECT_EQ(first_key("qs"), 'q');
    EXPECT_EQ(first_key("+++"), '+');
    EXPECT_EQ(first_key("\x1b[Bq"), 's');
    EXPECT_EQ(first_key("s\x1b[A"), 's');
    EXPECT_EQ(first_key("\x1bOxq"), 'b');
    // A key without a code first hides the keys after it.
    EXPECT_EQ(first_key("\x1b[15~q"), 0);
    EXPECT_EQ(first_key("\x1bq+"), 0);
    EXPECT_EQ(first_key("\x1b[Cs"), 0);
}

TEST(terminal_keys, empty_batch_has_no_key) {
    EXPECT_EQ(decode(""), (terminal_key{0, 0}));
    EXPECT_EQ(first_terminal_key({}), 0);
}

}  // namespace
