#include "schedule/duration.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

int32_t saturate(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The first marker, lower case first; only without it the upper case one.
const char* find_marker(const char* text, char lower, char upper) {
    const char* marker = strchr(text, lower);
    return marker != nullptr ? marker : strchr(text, upper);
}

const char* skip_to_digit(const char* text) {
    while (*text != '\0' && !isdigit(static_cast<unsigned char>(*text))) ++text;
    return text;
}

}  // namespace

int32_t read_int(const char* text) {
    while (isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    int64_t value = 0;
    for (; isdigit(static_cast<unsigned char>(*text)); ++text) {
        // Past 32 bits the value only needs to stay past them.
        if (value <= INT64_C(1) << 40) value = value * 10 + (*text - '0');
    }
    return saturate(negative ? -value : value);
}

int32_t parse_duration(const char* text) {
    const char* cursor = text;
    int64_t total = 0;
    if (const char* hours = find_marker(cursor, 'h', 'H')) {
        total += int64_t{3600} * read_int(cursor);
        cursor = skip_to_digit(hours + 1);
    }
    if (const char* minutes = find_marker(cursor, 'm', 'M')) {
        total += int64_t{60} * read_int(cursor);
        cursor = skip_to_digit(minutes + 1);
    }
    total += read_int(cursor);
    return saturate(total);
}
