#include "platform/windows/console_keys.h"

std::optional<int> first_console_key(const INPUT_RECORD* records, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
        const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
        // The virtual keys come first, so keypad 2 and 8 act with NumLock on or off.
        switch (key.wVirtualKeyCode) {
        case VK_NUMPAD2:
        case VK_DOWN:
            return 's';
        case VK_NUMPAD8:
        case VK_UP:
            return 'b';
        default:
            return static_cast<signed char>(key.uChar.AsciiChar);
        }
    }
    return std::nullopt;
}
