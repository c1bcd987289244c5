// libFuzzer target: the duration syntax and the integer reader.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "schedule/duration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The readers take NUL-terminated text; bytes after an embedded NUL are
    // simply never seen, as with a C string from a file or argv.
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* c_text = text.c_str();

    int32_t whole = parse_duration(c_text);
    int32_t plain = read_int(c_text);

    // Without a marker letter the duration is just the leading integer.
    if (strpbrk(c_text, "hHmM") == nullptr && whole != plain) abort();

    // Where strtoll reads a value that fits 32 bits, read_int must agree
    // with it (same blanks, sign and digits as atoi).
    errno = 0;
    long long reference = strtoll(c_text, nullptr, 10);
    if (errno == 0 && reference >= INT32_MIN && reference <= INT32_MAX && plain != reference) abort();
    // Beyond 32 bits it saturates toward the value's sign.
    if (errno == ERANGE || reference > INT32_MAX || reference < INT32_MIN) {
        if (reference > 0 && plain != INT32_MAX) abort();
        if (reference < 0 && plain != INT32_MIN) abort();
    }
    return 0;
}
