#include "platform/windows/console_keys.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

INPUT_RECORD key(WORD virtual_key, char character, bool down = true) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down;
    record.Event.KeyEvent.wVirtualKeyCode = virtual_key;
    record.Event.KeyEvent.uChar.AsciiChar = character;
    return record;
}

INPUT_RECORD focus_event() {
    INPUT_RECORD record{};
    record.EventType = FOCUS_EVENT;
    return record;
}

std::optional<int> first(const std::vector<INPUT_RECORD>& records) {
    return first_console_key(records.data(), records.size());
}

TEST(console_keys, arrows_and_keypad_map_to_back_and_skip_whatever_character_they_carry) {
    EXPECT_EQ(first({key(VK_UP, 0)}), 'b');
    EXPECT_EQ(first({key(VK_NUMPAD8, '8')}), 'b');
    EXPECT_EQ(first({key(VK_DOWN, 0)}), 's');
    EXPECT_EQ(first({key(VK_NUMPAD2, '2')}), 's');
}

TEST(console_keys, other_keys_give_their_character_sign_extended) {
    EXPECT_EQ(first({key('Q', 'q')}), 'q');
    EXPECT_EQ(first({key(VK_OEM_PLUS, '+')}), '+');
    EXPECT_EQ(first({key(0xDE, static_cast<char>(0xE4))}), -28);
    EXPECT_EQ(first({key(VK_F1, 0)}), 0);
}

TEST(console_keys, the_first_key_press_decides_and_releases_and_other_events_are_passed_over) {
    EXPECT_EQ(first({focus_event(), key('S', 's', false), key('N', 'n'), key('Q', 'q')}), 'n');
    // A Shift that arrives with the character it shifts is the first press.
    EXPECT_EQ(first({key(VK_SHIFT, 0), key(VK_OEM_PLUS, '+')}), 0);
}

TEST(console_keys, a_batch_without_a_key_press_gives_nothing) {
    EXPECT_EQ(first({}), std::nullopt);
    EXPECT_EQ(first({focus_event(), key('S', 's', false)}), std::nullopt);
}

}  // namespace
