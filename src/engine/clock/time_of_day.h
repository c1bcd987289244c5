#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

// Times of day on the local clock, as --at and --until name them, and a
// watch that tells when the local clock comes to one.

// "HH:MM" or "HH:MM:SS", the hour with one digit or two, as seconds from
// midnight; -1 for anything else, 24:00 and a minute or second of 60 too.
int parse_time_of_day(const char* text);
// "07:30:00".
std::string time_of_day_text(int seconds);
// The time of day a local time shows, as time_of_day_text writes it.
std::string time_of_day_text(const std::tm& local);

// Follows the local clock look by look. The time comes when the clock, going
// forward from the last look, reaches or passes it: so a clock that is set,
// a change of zone or of summer time moves the moment with it, a time that
// the clock jumps over (summer time beginning) comes at the first moment
// after it, and a time that it shows twice (summer time ending) comes at the
// first. A clock set back looks for the next such time from where it now is.
struct time_of_day_watch {
    int time_of_day;
    int64_t due;          // the clock-face second it waits for
    int64_t last_local;   // what the clock showed at the last look
    int64_t last_second;  // the calendar second then
};

struct watch_look {
    bool come = false;
    // Once come: how long ago the clock passed the time, but no more than
    // the calendar clock moved since the look before, so that summer time
    // beginning makes no start late, while a machine that slept through the
    // time does.
    int64_t late_seconds = 0;
    // Before: the clock-face seconds until the next such time.
    int64_t seconds_left = 0;
};

// Starts watching at the local time local of the calendar second second. A
// watch from_now comes at once if the clock shows the time now; otherwise
// the time comes next after now (tomorrow, if now is that time).
time_of_day_watch start_watch(int time_of_day, const std::tm& local, int64_t second, bool from_now);
watch_look look_at_clock(time_of_day_watch& watch, const std::tm& local, int64_t second);

// The local time of a calendar second, as the clock tells it.
using local_time_of = std::function<std::tm(int64_t)>;

// The calendar seconds from second until the watch comes, if the clock runs
// on unset from there: summer time beginning or ending on the way moves the
// moment as looks each second would see it, so that a time the clock jumps
// over comes where the jump lands and one that it shows again after a
// change comes the second time round if the watch had passed it.
int64_t real_seconds_until(time_of_day_watch watch, int64_t second, const local_time_of& local_at);
// The first clock-face second at or after from that shows time_of_day.
int64_t next_time_of_day(int64_t from, int time_of_day);
