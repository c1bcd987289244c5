#include "engine/clock/time_of_day.h"

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

// Changes of the zone's offset that a wait may meet on its way; a zone that
// changes more often than this in a day is counted as if it changed no more.
constexpr int changes_looked_for = 8;

}  // namespace

int64_t next_time_of_day(int64_t from, int time_of_day) {
    const int64_t at = floor_divide(from, seconds_per_day) * seconds_per_day + time_of_day;
    return at >= from ? at : at + seconds_per_day;
}

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
    return {time_of_day, next_time_of_day(from_now ? now : now + 1, time_of_day), now, second};
}

watch_look look_at_clock(time_of_day_watch& watch, const std::tm& local, int64_t second) {
    const int64_t now = civil_seconds(local);
    if (now < watch.last_local) watch.due = next_time_of_day(now, watch.time_of_day);
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

int64_t real_seconds_until(time_of_day_watch watch, int64_t second, const local_time_of& local_at) {
    const auto offset_at = [&](int64_t s) { return civil_seconds(local_at(s)) - s; };
    int64_t at = second;
    int64_t offset = offset_at(at);
    for (int change = 0; change < changes_looked_for; ++change) {
        const int64_t face = at + offset;
        if (face >= watch.due) return at - second;
        // Where the face reaches the time if the offset holds.
        const int64_t reached = watch.due - offset;
        if (offset_at(reached) == offset) return reached - second;
        // The offset changes on the way: the first second of the new one.
        int64_t before = at;
        int64_t after = reached;
        while (after - before > 1) {
            const int64_t middle = before + (after - before) / 2;
            (offset_at(middle) == offset ? before : after) = middle;
        }
        const int64_t new_offset = offset_at(after);
        // The face went back (summer time ending): the watch looks for the
        // time again from there, as look_at_clock does.
        if (after + new_offset < before + offset) watch.due = next_time_of_day(after + new_offset, watch.time_of_day);
        at = after;
        offset = new_offset;
    }
    return at - second + std::max<int64_t>(0, watch.due - (at + offset));
}
