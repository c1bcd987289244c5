#include "engine/time_of_day.h"

#include <algorithm>
#include <cstdio>

#include "platform/civil_time.h"

namespace {

constexpr int seconds_per_day = 86400;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Two digits below limit at text, moved past; -1 otherwise.
int two_digits(const char*& text, int limit) {
    if (!is_digit(text[0]) || !is_digit(text[1])) return -1;
    const int value = (text[0] - '0') * 10 + (text[1] - '0');
    text += 2;
    return value < limit ? value : -1;
}

// The first clock-face second at or after from that shows time_of_day.
int64_t next_time(int64_t from, int time_of_day) {
    const int64_t at = floor_divide(from, seconds_per_day) * seconds_per_day + time_of_day;
    return at >= from ? at : at + seconds_per_day;
}

}  // namespace

int parse_time_of_day(const char* text) {
    if (!is_digit(text[0])) return -1;
    int hours = text[0] - '0';
    ++text;
    if (is_digit(text[0])) hours = hours * 10 + (*text++ - '0');
    if (hours > 23 || *text++ != ':') return -1;
    const int minutes = two_digits(text, 60);
    if (minutes < 0) return -1;
    int seconds = 0;
    if (*text == ':') {
        ++text;
        seconds = two_digits(text, 60);
        if (seconds < 0) return -1;
    }
    return *text == '\0' ? hours * 3600 + minutes * 60 + seconds : -1;
}

std::string time_of_day_text(int seconds) {
    char text[16];
    snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
    return text;
}

std::string time_of_day_text(const std::tm& local) {
    return time_of_day_text(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
}

time_of_day_watch start_watch(int time_of_day, const std::tm& local, int64_t second, bool from_now) {
    const int64_t now = civil_seconds(local);
    return {time_of_day, next_time(from_now ? now : now + 1, time_of_day), now, second};
}

watch_look look_at_clock(time_of_day_watch& watch, const std::tm& local, int64_t second) {
    const int64_t now = civil_seconds(local);
    if (now < watch.last_local) watch.due = next_time(now, watch.time_of_day);
    watch_look look;
    if (now >= watch.due) {
        look.come = true;
        look.late_seconds = std::min(now - watch.due, std::max<int64_t>(0, second - watch.last_second));
    } else {
        look.seconds_left = watch.due - now;
    }
    watch.last_local = now;
    watch.last_second = second;
    return look;
}
