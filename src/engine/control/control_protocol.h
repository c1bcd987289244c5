#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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
    toggle,
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

// One line, without its line end, read once. Nesting deeper than a request
// needs is refused as the parser reaches it, so that no line costs more
// than a look at its bytes.
control_request parse_control_request(std::string_view line);
// The name a client gives the command: "add" and "nearby" with either
// argument.
const char* control_command_name(control_command command);

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
    // While the run waits to start (--at): the time of day it starts at
    // ("23:00:00"), and the seconds until then; nullptr otherwise.
    const char* starts_at = nullptr;
    int64_t starts_in = 0;
    // --loop: the pass that plays, from 1, and how many (0: endless, null);
    // left is then -1 (null) without --until, whose time is stops_at.
    unsigned long long pass = 1;
    unsigned long long passes = 1;
    const char* stops_at = nullptr;
};
std::string control_status_data(const control_status& status);
// The entries from first on: tones and comments, the comments' line ends
// left out.
std::string control_schedule_data(const fdt_entry* entries, uint32_t first, uint32_t count);

// The schedule's reply, written a piece at a time as its client takes it,
// so that a schedule of any length costs each step a bounded time and waits
// in a bounded buffer. It covers the entries from first to end of the table
// as it stands while it is written: a tone inserted before the part written
// moves that part on, one inserted after it is in the reply.
class schedule_reply {
public:
    schedule_reply(std::string request_id, uint32_t first, uint32_t end)
        : request_id_(std::move(request_id)), next_(first), end_(end) {}
    // Appends the next piece, about bytes long, of the table's count entries
    // to out; true once the whole reply, line end included, is written.
    bool write(const fdt_entry* entries, uint32_t count, size_t bytes, std::string& out);
    void entry_inserted(uint32_t index);

private:
    std::string request_id_;
    uint32_t next_;
    uint32_t end_;
    bool opened_ = false;
};

std::string control_event(const char* name);
std::string control_tone_event(double frequency, int duration, uint32_t index);
std::string control_end_event(int status);

// For --send: the request for a command and its argument (none when
// nullptr), a number where the argument reads as one, else a string.
std::string control_request_line(const char* command, const char* argument);

// A line from the run, as --send reads it: held to the requests' nesting
// limit, and read without building a tree of it, whatever its size.
struct control_answer {
    enum class kind { reply, event, unreadable } type = kind::unreadable;
    bool success = false;
    std::string data;     // JSON text, compact; empty without data
    std::string error;    // the run's text, when not a success
    std::string problem;  // what makes an unreadable line so
};
control_answer read_control_answer(std::string_view line);
