#include "platform/windows/selection_buffer.h"

#include <cstring>

chooser_result read_selection_buffer(const char* buffer, std::size_t size) {
    chooser_result result;
    std::size_t at = 0;
    // Each string up to its zero byte; nothing is read past the buffer.
    auto next_string = [&](std::string& text) {
        const void* end = std::memchr(buffer + at, '\0', size - at);
        if (end == nullptr) return false;
        std::size_t length = static_cast<const char*>(end) - (buffer + at);
        text.assign(buffer + at, length);
        at += length + 1;
        return true;
    };
    std::string text;
    if (size == 0 || !next_string(text) || text.empty()) return result;
    result.strings.push_back(text);
    while (at < size && buffer[at] != '\0') {
        if (!next_string(text)) return chooser_result{};
        result.strings.push_back(text);
    }
    result.status = chooser_result::outcome::chosen;
    return result;
}
