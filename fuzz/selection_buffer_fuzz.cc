// libFuzzer target: the Windows dialog's selection buffer, read on Linux.
// Whatever the buffer holds, nothing is read past its end, and a selection
// is exactly the strings at its start, each ended by its zero byte, and
// ended itself by an empty string or the buffer's end.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/windows/selection_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so that a read past it is caught.
    std::vector<char> buffer(data, data + size);
    const chooser_result result = read_selection_buffer(buffer.data(), buffer.size());
    if (result.status != chooser_result::outcome::chosen) {
        if (!result.strings.empty()) abort();
        return 0;
    }
    if (result.strings.empty() || result.strings[0].empty()) abort();
    size_t at = 0;
    for (const std::string& text : result.strings) {
        if (text.find('\0') != std::string::npos) abort();
        if (at + text.size() + 1 > size) abort();
        if (memcmp(buffer.data() + at, text.data(), text.size()) != 0 || buffer[at + text.size()] != '\0') abort();
        at += text.size() + 1;
    }
    // Ended by an empty string, or by the end of the buffer.
    if (at < size && buffer[at] != '\0') abort();
    return 0;
}
