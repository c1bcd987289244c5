#pragma once

#include <cstdint>

// "90", "2m", "1h2m3" and the like, in seconds. Never fails; values beyond
// 32 bits saturate.
int32_t parse_duration(const char* text);

// atoi's reading (blanks, sign, digits), saturating instead of overflowing.
int32_t read_int(const char* text);
