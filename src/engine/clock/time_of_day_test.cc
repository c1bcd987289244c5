#include "engine/clock/time_of_day.h"

#include <gtest/gtest.h>

#include "platform/civil_time.h"

namespace {

TEST(time_of_day, reads_hours_minutes_and_seconds_and_nothing_else) {
    for (const char* bad :
         {"24:00", "25:00", "7", "7:5", "07:60", "07:30:60", "07:30:", "07:30x", " 7:30", "123:00", ""})
        EXPECT_EQ(parse_time_of_day(bad), -1) << bad;
    EXPECT_EQ(parse_time_of_day("23:59:59"), 86399);
    EXPECT_EQ(time_of_day_text(parse_time_of_day("7:30:15")), "07:30:15");
}

// The clock's face is counted in civil seconds, whose days must follow each
// other across every month's end.
TEST(time_of_day, every_day_from_1900_to_2100_counts_back_as_itself) {
    char text[32];
    const std::tm leap_day = civil_from_seconds(951782400 + 3661);
    strftime(text, sizeof text, "%Y-%m-%d %a %H:%M:%S", &leap_day);
    EXPECT_STREQ(text, "2000-02-29 Tue 01:01:01");
    for (int64_t day = -25567; day < 47482; ++day)
        ASSERT_EQ(civil_seconds(civil_from_seconds(day * 86400 + 3661)), day * 86400 + 3661) << day;
}

}  // namespace
