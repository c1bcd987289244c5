#include "platform/civil_time.h"

#include <gtest/gtest.h>

namespace {

TEST(civil_time, counts_dates_both_ways_across_leap_days_and_before_1970) {
    const struct {
        int64_t seconds;
        int year, month, day, hour, weekday;
    } cases[] = {
        {0, 1970, 1, 1, 0, 4},
        {-1, 1969, 12, 31, 23, 3},
        {951782400, 2000, 2, 29, 0, 2},
        {1700000000, 2023, 11, 14, 22, 2},
        {4107542400, 2100, 3, 1, 0, 1},
    };
    for (const auto& c : cases) {
        const std::tm time = civil_from_seconds(c.seconds);
        EXPECT_EQ(time.tm_year + 1900, c.year) << c.seconds;
        EXPECT_EQ(time.tm_mon + 1, c.month) << c.seconds;
        EXPECT_EQ(time.tm_mday, c.day) << c.seconds;
        EXPECT_EQ(time.tm_hour, c.hour) << c.seconds;
        EXPECT_EQ(time.tm_wday, c.weekday) << c.seconds;
    }
    // Each day from 1900 to 2100 reads back as itself.
    for (int64_t day = -25567; day < 47482; ++day) {
        const int64_t seconds = day * 86400 + 3661;
        ASSERT_EQ(civil_seconds(civil_from_seconds(seconds)), seconds) << day;
    }
}

}  // namespace
