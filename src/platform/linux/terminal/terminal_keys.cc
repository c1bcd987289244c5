#include "platform/linux/terminal/terminal_keys.h"

namespace {

constexpr unsigned char escape = 0x1b;
constexpr int arrow_up_code = 'b';
constexpr int arrow_down_code = 's';

bool is_parameter_byte(unsigned char c) { return c >= 0x30 && c <= 0x3f; }
bool is_intermediate_byte(unsigned char c) { return c >= 0x20 && c <= 0x2f; }
bool is_final_byte(unsigned char c) { return c >= 0x40 && c <= 0x7e; }

int plain_character(unsigned char c) {
    // Character codes are signed chars widened to int, so bytes above 0x7f
    // come out negative.
    return static_cast<signed char>(c);
}

// ESC [ params intermediates final. Modified arrows (ESC [ 1 ; 5 A) still
// count as arrows, as do rxvt's shifted ones (ESC [ a).
terminal_key decode_csi(std::span<const unsigned char> bytes) {
    std::size_t i = 2;
    // The Linux console spells F1 to F5 as ESC [ [ A to ESC [ [ E.
    if (i < bytes.size() && bytes[i] == '[') {
        return {0, i + 2 <= bytes.size() ? i + 2 : bytes.size()};
    }
    bool has_intermediates = false;
    while (i < bytes.size() && is_parameter_byte(bytes[i])) {
        ++i;
    }
    while (i < bytes.size() && is_intermediate_byte(bytes[i])) {
        has_intermediates = true;
        ++i;
    }
    if (i == bytes.size()) {
        return {0, i};
    }
    if (!is_final_byte(bytes[i])) {
        // Malformed: the sequence ends before the stray byte.
        return {0, i};
    }
    int code = 0;
    if (!has_intermediates) {
        switch (bytes[i]) {
        case 'A':
        case 'a':
            code = arrow_up_code;
            break;
        case 'B':
        case 'b':
            code = arrow_down_code;
            break;
        default:
            break;
        }
    }
    return {code, i + 1};
}

// ESC O final: cursor keys in application cursor mode, F1 to F4, and the
// keypad in application keypad mode, where its keys are told apart from the
// main keyboard's.
int ss3_code(unsigned char final) {
    switch (final) {
    case 'A':
    case 'a':
    case 'x':  // keypad 8
        return arrow_up_code;
    case 'B':
    case 'b':
    case 'r':  // keypad 2
        return arrow_down_code;
    case 'p': return '0';
    case 'q': return '1';
    case 's': return '3';
    case 't': return '4';
    case 'u': return '5';
    case 'v': return '6';
    case 'w': return '7';
    case 'y': return '9';
    case 'j': return '*';
    case 'k': return '+';
    case 'l': return ',';
    case 'm': return '-';
    case 'n': return '.';
    case 'o': return '/';
    case 'X': return '=';
    case 'M': return '\r';
    default: return 0;
    }
}

terminal_key decode_ss3(std::span<const unsigned char> bytes) {
    std::size_t i = 2;
    // Some terminals put a modifier parameter here (ESC O 1 ; 2 A).
    while (i < bytes.size() && is_parameter_byte(bytes[i])) {
        ++i;
    }
    if (i == bytes.size()) {
        return {0, i};
    }
    if (!is_final_byte(bytes[i])) {
        return {0, i};
    }
    return {ss3_code(bytes[i]), i + 1};
}

}  // namespace

terminal_key decode_terminal_key(std::span<const unsigned char> bytes) {
    if (bytes.empty()) {
        return {0, 0};
    }
    if (bytes[0] != escape) {
        return {plain_character(bytes[0]), 1};
    }
    std::size_t escapes = 1;
    while (escapes < bytes.size() && bytes[escapes] == escape) {
        ++escapes;
    }
    if (escapes == bytes.size()) {
        return {0, escapes};
    }
    // The last escape starts the key; any before it is how terminals send
    // Alt (ESC ESC [ A for Alt+Up), and an Alt chord has no code.
    std::span<const unsigned char> key_bytes = bytes.subspan(escapes - 1);
    terminal_key key{0, 2};
    if (key_bytes[1] == '[') {
        key = decode_csi(key_bytes);
    } else if (key_bytes[1] == 'O') {
        key = decode_ss3(key_bytes);
    } else {
        // Escape before a character: Alt with that character.
        key.code = 0;
    }
    if (escapes > 1) {
        key.code = 0;
    }
    return {key.code, escapes - 1 + key.length};
}

int first_terminal_key(std::span<const unsigned char> batch) {
    return decode_terminal_key(batch).code;
}
