#pragma once

#include <cstdint>
#include <ctime>

// Dates of the Gregorian calendar in plain arithmetic, so that every system
// and every simulated zone counts them alike.

inline int64_t floor_divide(int64_t a, int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

// Days from 1970-01-01 to the date; month from 1 to 12.
inline int64_t days_from_civil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = floor_divide(year, 400);
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The date and time a count of seconds from 1970-01-01 00:00:00 shows, in no
// zone; tm_isdst is 0.
inline std::tm civil_from_seconds(int64_t seconds) {
    const int64_t days = floor_divide(seconds, 86400);
    const int64_t second_of_day = seconds - days * 86400;
    const int64_t shifted = days + 719468;
    const int64_t era = floor_divide(shifted, 146097);
    const int64_t day_of_era = shifted - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t month_index = (5 * day_of_year + 2) / 153;  // from March
    const int month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
    const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    std::tm time{};
    time.tm_year = static_cast<int>(year - 1900);
    time.tm_mon = month - 1;
    time.tm_mday = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
    time.tm_hour = static_cast<int>(second_of_day / 3600);
    time.tm_min = static_cast<int>(second_of_day / 60 % 60);
    time.tm_sec = static_cast<int>(second_of_day % 60);
    time.tm_wday = static_cast<int>(days + 4 - floor_divide(days + 4, 7) * 7);  // 1970-01-01 was a Thursday
    time.tm_yday = static_cast<int>(days - days_from_civil(year, 1, 1));
    return time;
}

// The seconds from 1970-01-01 00:00:00 to what a broken-down time shows on
// its face, whatever its zone: two local times subtract to the time between
// them as the clock tells it.
inline int64_t civil_seconds(const std::tm& time) {
    return days_from_civil(int64_t{time.tm_year} + 1900, time.tm_mon + 1, time.tm_mday) * 86400 +
           time.tm_hour * 3600 + time.tm_min * 60 + time.tm_sec;
}
