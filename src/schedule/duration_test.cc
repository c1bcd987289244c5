#include "schedule/duration.h"

#include <gtest/gtest.h>

#include <climits>

TEST(parse_duration, markers_fields_and_trailing_words) {
    const std::pair<const char*, int32_t> cases[] = {
        {"90", 90},        {" 5", 5},          {"2m", 120},         {"1h", 3600},
        {"1h2m3", 3723},   {"1H2M3", 3723},    {"1h 2m 3", 3723},   {"1h30", 3630},
        {"1m30s", 90},     {"1.5m", 60},       {"", 0},             {"abc", 0},
        {"-5", -5},        {"1h-5", 3605},     {"5m1h", 18000},     {" 10 # comment\n", 600},
        {" 10 # hello\n", 36000},              {"+7", 7},           {"\t\n 8", 8},
        {"2h3H", 7203},    {"1hM2", 3602},     {"-1m", -60},        {"1h2m-3", 3723},
    };
    for (const auto& [text, seconds] : cases) EXPECT_EQ(parse_duration(text), seconds) << '"' << text << '"';
}

TEST(parse_duration, values_beyond_32_bits_saturate_instead_of_wrapping) {
    EXPECT_EQ(parse_duration("2147483647"), INT32_MAX);
    EXPECT_EQ(parse_duration("2147483648"), INT32_MAX);
    EXPECT_EQ(parse_duration("99999999999999999999999"), INT32_MAX);
    EXPECT_EQ(parse_duration("-99999999999999999999999"), INT32_MIN);
    EXPECT_EQ(parse_duration("1000000h"), INT32_MAX);  // the product saturates
    EXPECT_EQ(parse_duration("-1000000h"), INT32_MIN);
    EXPECT_EQ(parse_duration("596523h"), 596523 * 3600);  // just fits
    EXPECT_EQ(parse_duration("596523h9999m"), INT32_MAX);  // the sum saturates
    EXPECT_EQ(read_int("-2147483648"), INT32_MIN);
}
