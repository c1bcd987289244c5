#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the web page shows of the run, as its server learns it from the
// run's lines on the control channel, and the JSON the page reads it from:
// texts made here, as the status line prints them, so that the page's
// script only puts them in place.

struct web_run_view {
    bool known = false;  // a status reply has come
    std::string state;   // "playing", "paused", "waiting to start", ...
    double frequency = 0;
    int64_t duration = 0;
    int64_t elapsed = 0;
    int64_t left = 0;  // the run's sound still to come
    uint32_t index = 0;
    uint32_t entries = 0;
    std::string starts_at;  // while waiting to start
    int64_t starts_in = 0;
    std::vector<std::string> next;  // "441 Hz for 3:00", the next few tones
    bool ended = false;
    int end_status = 0;
    bool lost = false;  // the run cannot be reached
};

// The next tones the page lists.
constexpr size_t web_next_tones = 5;

// A line from the run.
struct web_run_line {
    enum class kind { reply, event, unreadable } type = kind::unreadable;
    bool success = false;
    std::string error;  // the run's text for a failure
    std::string event;  // "pause", "tone-start", "end", ...
    int status = 0;     // an end's exit status
};
web_run_line read_run_line(std::string_view line);

// A status reply's data into view; false when the line holds none.
bool read_status_reply(std::string_view line, web_run_view& view);
// A schedule reply (from the playing entry on) gives the tones after it.
bool read_schedule_reply(std::string_view line, web_run_view& view);

// {"state": "playing", "frequency": "440 Hz", "tone_left": "2:40",
//  "run_left": "10:00", "place": "3 of 12", "next": [...], "ended": false,
//  ...}: every field a text ready to show.
std::string web_page_json(const web_run_view& view);

// What a command's POST answers: {"error": "success"} or the run's text.
std::string web_reply_json(const std::string& error);
