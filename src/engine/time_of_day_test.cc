#include "engine/time_of_day.h"

#include <gtest/gtest.h>

namespace {

TEST(time_of_day, reads_hours_minutes_and_seconds_and_nothing_else) {
    const struct {
        const char* text;
        int seconds;
    } cases[] = {
        {"7:30", 27000},   {"07:30:15", 27015}, {"23:59:59", 86399}, {"0:00", 0},     {"24:00", -1},
        {"25:00", -1},     {"7", -1},           {"7:5", -1},         {"07:60", -1},   {"07:30:60", -1},
        {"07:30:", -1},    {"07:30x", -1},      {" 7:30", -1},       {"123:00", -1},  {"", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_time_of_day(c.text), c.seconds) << c.text;
    EXPECT_EQ(time_of_day_text(27015), "07:30:15");
}

}  // namespace
