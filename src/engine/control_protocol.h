#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "schedule/fdt.h"

// The control protocol: one JSON object per line each way, as media players
// speak it. The request {"command": ["skip"], "request_id": 7} is answered
// by {"request_id": 7, "error": "success"}, with "data" where the command
// returns something, or with the error's text in place of "success". An
// observing client also gets events: {"event": "pause"}. Only this module
// reads and writes JSON, so that the slow header is compiled once.

enum class control_command {
    status,
    schedule,
    observe,
    skip,
    back,
    pause,
    resume,
    quit,
    add_above,
    add_below,
    nearby_coarse,
    nearby_fine,
};

struct control_request {
    control_command command = control_command::status;
    // The request_id as JSON text, sent back as it came; empty without one.
    std::string request_id;
    // What is wrong with the line; empty when it is a request.
    std::string error;
};

// One line, without its line end.
control_request parse_control_request(std::string_view line);

// The lines sent back, each ending in a line end. data is JSON text.
std::string control_success(const std::string& request_id, const std::string& data = "");
std::string control_failure(const std::string& request_id, const std::string& error);

// Where the run stands, for status.
struct control_status {
    const char* state;
    double frequency;
    int64_t duration;
    int64_t elapsed;
    uint32_t index;  // among the tones, from 1
    uint32_t entries;
    int64_t left;  // seconds of sound still to come in the schedule
};
std::string control_status_data(const control_status& status);
// The entries from first on: tones and comments, the comments' line ends
// left out.
std::string control_schedule_data(const fdt_entry* entries, uint32_t first, uint32_t count);

std::string control_event(const char* name);
std::string control_tone_event(double frequency, int duration, uint32_t index);
std::string control_end_event(int status);

// For --send: the request for a command and its argument (none when
// nullptr), a number where the argument reads as one, else a string.
std::string control_request_line(const char* command, const char* argument);

// A line from the run, as --send reads it.
struct control_answer {
    enum class kind { reply, event, unreadable } type = kind::unreadable;
    bool success = false;
    std::string data;   // JSON text; empty without data
    std::string error;  // the run's text, when not a success
};
control_answer read_control_answer(std::string_view line);
