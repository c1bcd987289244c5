#include "engine/control/control_protocol.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "log/log.h"

namespace {

// Keys in the order written, as the examples of the protocol show them.
using json = nlohmann::ordered_json;

// Texts from files and from bad input may hold bytes that are not UTF-8:
// they are sent as U+FFFD rather than failing the line.
std::string text_of(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool is_whole(double value) {
    constexpr double exact_limit = 9007199254740992.0;  // 2^53
    return std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < exact_limit;
}

// 440 rather than 440.0, as a person writes a whole number of hertz.
json number(double value) {
    if (is_whole(value)) return static_cast<int64_t>(value);
    return value;
}

struct command_name {
    const char* name;
    control_command command;
};

constexpr command_name plain_commands[] = {
    {"status", control_command::status}, {"schedule", control_command::schedule},
    {"observe", control_command::observe}, {"skip", control_command::skip},
    {"back", control_command::back},     {"pause", control_command::pause},
    {"resume", control_command::resume}, {"toggle", control_command::toggle},
    {"quit", control_command::quit},
};

// A request is an object holding a list: anything deeper is refused as soon
// as the parser reaches it.
constexpr int deepest_nesting = 16;

// The command of a request's "command" list; error tells what is wrong.
control_command command_of(const json& list, std::string& error) {
    if (!list.is_array() || list.empty() || !list[0].is_string()) {
        error = "\"command\" is not a list that starts with a command's name";
        return control_command::status;
    }
    const std::string name = list[0].get<std::string>();
    const size_t arguments = list.size() - 1;
    for (const command_name& plain : plain_commands) {
        if (name != plain.name) continue;
        if (arguments != 0) error = "\"" + name + "\" takes no arguments";
        return plain.command;
    }
    if (name == "add") {
        if (arguments == 1 && list[1].is_number() && list[1].get<double>() == 1.0) return control_command::add_above;
        if (arguments == 1 && list[1].is_number() && list[1].get<double>() == -1.0) return control_command::add_below;
        error = "\"add\" takes 1 or -1";
        return control_command::status;
    }
    if (name == "nearby") {
        if (arguments == 1 && list[1] == "coarse") return control_command::nearby_coarse;
        if (arguments == 1 && list[1] == "fine") return control_command::nearby_fine;
        error = "\"nearby\" takes \"coarse\" or \"fine\"";
        return control_command::status;
    }
    error = "unknown command " + text_of(list[0]);
    return control_command::status;
}

// The depth a line may reach, counted as the parser goes in and out, so that
// it stops where a line gets too deep instead of building (and later
// dumping, recursively) a value as deep as the line is long. Requests and
// the run's answers are held to the same limit.
struct nesting_guard {
    int depth = 0;
    bool too_deep = false;
    bool enter() {
        if (++depth <= deepest_nesting) return true;
        too_deep = true;
        return false;
    }
    void leave() { --depth; }
    std::string message() const { return "nested deeper than " + std::to_string(deepest_nesting) + " levels"; }
};

// The parser's message without its "[json.exception...] " tag.
std::string parser_message(const nlohmann::detail::exception& failure) {
    const char* text = failure.what();
    const char* tag_end = strstr(text, "] ");
    return tag_end != nullptr ? tag_end + 2 : text;
}

// Builds the value as the library's own reader does, and keeps what is
// wrong with a bad line, found in the same pass. A thrown parse error costs
// several times the parse itself, and a client may send nothing but bad
// lines.
struct request_reader {
    explicit request_reader(json& value) : builder(value, false) {}

    nlohmann::detail::json_sax_dom_parser<json> builder;
    std::string message;
    nesting_guard nesting;

    using number_integer_t = json::number_integer_t;
    using number_unsigned_t = json::number_unsigned_t;
    using number_float_t = json::number_float_t;
    using string_t = json::string_t;
    using binary_t = json::binary_t;

    bool null() { return builder.null(); }
    bool boolean(bool value) { return builder.boolean(value); }
    bool number_integer(number_integer_t value) { return builder.number_integer(value); }
    bool number_unsigned(number_unsigned_t value) { return builder.number_unsigned(value); }
    bool number_float(number_float_t value, const string_t& text) { return builder.number_float(value, text); }
    bool string(string_t& value) { return builder.string(value); }
    bool binary(binary_t& value) { return builder.binary(value); }
    bool key(string_t& value) { return builder.key(value); }
    bool start_object(std::size_t size) { return nesting.enter() && builder.start_object(size); }
    bool end_object() {
        nesting.leave();
        return builder.end_object();
    }
    bool start_array(std::size_t size) { return nesting.enter() && builder.start_array(size); }
    bool end_array() {
        nesting.leave();
        return builder.end_array();
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& failure) {
        message = "not JSON: " + parser_message(failure);
        return false;
    }
};

// Reads a line from the run without building it: only the reply's "error"
// and "data" matter, and data is written back as compact JSON as the
// parser goes, so that the reply of a schedule of a million entries costs
// its text twice, not a tree of a million objects.
struct answer_reader {
    explicit answer_reader(control_answer& out) : answer(out) {}

    control_answer& answer;
    nesting_guard nesting;
    std::string message;

    enum class field { other, event, error, data };
    field current = field::other;  // the line's member being read
    bool object = false;           // the line is an object
    bool event = false;
    bool error_text = false;       // "error" holds a text
    std::string error;
    // Inside the "data" member: per container opened there, whether
    // nothing is written in it yet.
    std::vector<bool> first;
    bool after_key = false;

    using number_integer_t = json::number_integer_t;
    using number_unsigned_t = json::number_unsigned_t;
    using number_float_t = json::number_float_t;
    using string_t = json::string_t;
    using binary_t = json::binary_t;

    bool in_data() const { return !first.empty(); }

    // Before a value or a key inside data: the comma that parts it from the
    // one before.
    void separate() {
        if (after_key) {
            after_key = false;
            return;
        }
        if (!first.back()) answer.data += ',';
        first.back() = false;
    }

    bool scalar(std::string text, const string_t* string_value = nullptr) {
        if (in_data()) {
            separate();
            answer.data += text;
        } else if (nesting.depth == 1) {
            if (current == field::event) event = true;
            if (current == field::data) answer.data = std::move(text);
            if (current == field::error) {
                error_text = string_value != nullptr;
                if (error_text) error = *string_value;
            }
        }
        return true;
    }
    bool null() { return scalar("null"); }
    bool boolean(bool value) { return scalar(value ? "true" : "false"); }
    bool number_integer(number_integer_t value) { return scalar(std::to_string(value)); }
    bool number_unsigned(number_unsigned_t value) { return scalar(std::to_string(value)); }
    bool number_float(number_float_t value, const string_t&) { return scalar(text_of(json(value))); }
    bool string(string_t& value) {
        // The parser's own text is given up to the copy written back: a
        // reply may hold a string of many megabytes.
        if (in_data() || (nesting.depth == 1 && current == field::data))
            return scalar(text_of(json(std::move(value))));
        return scalar("", &value);
    }
    bool binary(binary_t&) { return true; }  // never in JSON text
    bool key(string_t& value) {
        if (in_data()) {
            separate();
            answer.data += text_of(json(value));
            answer.data += ':';
            after_key = true;
        } else if (nesting.depth == 1) {
            current = value == "event" ? field::event
                      : value == "error" ? field::error
                      : value == "data"  ? field::data
                                         : field::other;
            if (current == field::data) answer.data.clear();
        }
        return true;
    }
    bool start(char bracket, bool is_object) {
        if (!nesting.enter()) return false;
        if (nesting.depth == 1) {
            object = is_object;
            return true;
        }
        if (in_data()) {
            separate();
        } else if (nesting.depth == 2 && object && current == field::data) {
            answer.data.clear();
        } else {
            if (nesting.depth == 2 && current == field::event) event = true;
            if (nesting.depth == 2 && current == field::error) error_text = false;
            return true;
        }
        answer.data += bracket;
        first.push_back(true);
        return true;
    }
    bool end(char bracket) {
        if (in_data() && nesting.depth >= 2) {
            answer.data += bracket;
            first.pop_back();
        }
        nesting.leave();
        return true;
    }
    bool start_object(std::size_t) { return start('{', true); }
    bool end_object() { return end('}'); }
    bool start_array(std::size_t) { return start('[', false); }
    bool end_array() { return end(']'); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& failure) {
        message = "not JSON: " + parser_message(failure);
        return false;
    }
};

void append_integer(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void append_entry(std::string& out, const fdt_entry& entry) {
    if (entry.text == nullptr) {
        out += "{\"frequency\":";
        if (is_whole(entry.frequency)) append_integer(out, static_cast<int64_t>(entry.frequency));
        else out += number(entry.frequency).dump();
        out += ",\"duration\":";
        append_integer(out, entry.duration);
        out += '}';
        return;
    }
    std::string_view text = entry.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    out += "{\"comment\":" + text_of(std::string(text)) + "}";
}

}  // namespace

control_request parse_control_request(std::string_view line) {
    control_request request;
    json parsed;
    request_reader reader(parsed);
    if (!json::sax_parse(line.begin(), line.end(), &reader)) {
        request.error = reader.nesting.too_deep ? reader.nesting.message() : reader.message;
        return request;
    }
    if (!parsed.is_object()) {
        request.error = "not a JSON object";
        return request;
    }
    if (const auto id = parsed.find("request_id"); id != parsed.end()) {
        // Echoed as it came: a number or a string, never a structure that
        // would be as deep as the line is long.
        if (!id->is_number() && !id->is_string()) {
            request.error = "\"request_id\" is neither a number nor a string";
            return request;
        }
        request.request_id = text_of(*id);
    }
    const auto list = parsed.find("command");
    if (list == parsed.end()) {
        request.error = "no \"command\"";
        return request;
    }
    request.command = command_of(*list, request.error);
    return request;
}

const char* control_command_name(control_command command) {
    switch (command) {
    case control_command::add_above:
    case control_command::add_below: return "add";
    case control_command::nearby_coarse:
    case control_command::nearby_fine: return "nearby";
    default: break;
    }
    for (const command_name& plain : plain_commands)
        if (plain.command == command) return plain.name;
    return "status";
}

std::string control_success(const std::string& request_id, const std::string& data) {
    std::string line = "{";
    if (!request_id.empty()) line += "\"request_id\":" + request_id + ",";
    line += "\"error\":\"success\"";
    if (!data.empty()) line += ",\"data\":" + data;
    return line + "}\n";
}

std::string control_failure(const std::string& request_id, const std::string& error) {
    std::string line = "{";
    if (!request_id.empty()) line += "\"request_id\":" + request_id + ",";
    return line + "\"error\":" + text_of(error) + "}\n";
}

std::string control_status_data(const control_status& status) {
    json data;
    data["state"] = status.state;
    data["frequency"] = number(status.frequency);
    data["duration"] = status.duration;
    data["elapsed"] = status.elapsed;
    data["index"] = status.index;
    data["entries"] = status.entries;
    data["left"] = status.left >= 0 ? json(status.left) : json(nullptr);
    data["pass"] = status.pass;
    data["passes"] = status.passes > 0 ? json(status.passes) : json(nullptr);
    data["version"] = program_version;
    if (status.stops_at != nullptr) data["stops_at"] = status.stops_at;
    if (status.starts_at != nullptr) {
        data["starts_at"] = status.starts_at;
        data["starts_in"] = status.starts_in;
    }
    return text_of(data);
}

std::string control_schedule_data(const fdt_entry* entries, uint32_t first, uint32_t count) {
    // Written entry by entry: a schedule of a million entries as one JSON
    // value would take hundreds of megabytes.
    std::string list = "[";
    for (uint32_t i = first; i < count; ++i) {
        if (i != first) list += ',';
        append_entry(list, entries[i]);
    }
    return list + "]";
}

bool schedule_reply::write(const fdt_entry* entries, uint32_t count, size_t bytes, std::string& out) {
    const size_t until = out.size() + bytes;
    if (end_ > count) end_ = count;
    if (!opened_) {
        opened_ = true;
        out += "{";
        if (!request_id_.empty()) out += "\"request_id\":" + request_id_ + ",";
        out += "\"error\":\"success\",\"data\":[";
    } else if (next_ < end_) {
        out += ',';
    }
    while (next_ < end_) {
        append_entry(out, entries[next_++]);
        if (out.size() >= until) break;
        if (next_ < end_) out += ',';
    }
    if (next_ < end_) return false;
    out += "]}\n";
    return true;
}

void schedule_reply::entry_inserted(uint32_t index) {
    if (index < next_) ++next_;
    if (index <= end_) ++end_;
}

std::string control_event(const char* name) {
    json event;
    event["event"] = name;
    return text_of(event) + "\n";
}

std::string control_tone_event(double frequency, int duration, uint32_t index) {
    json event;
    event["event"] = "tone-start";
    event["frequency"] = number(frequency);
    event["duration"] = duration;
    event["index"] = index;
    return text_of(event) + "\n";
}

std::string control_end_event(int status) {
    json event;
    event["event"] = "end";
    event["status"] = status;
    return text_of(event) + "\n";
}

std::string control_request_line(const char* command, const char* argument) {
    json request;
    json list = json::array({command});
    if (argument != nullptr) {
        const json value = json::parse(argument, nullptr, false);
        if (value.is_number()) list.push_back(value);
        else list.push_back(argument);
    }
    request["command"] = list;
    request["request_id"] = 1;
    return text_of(request) + "\n";
}

control_answer read_control_answer(std::string_view line) {
    control_answer answer;
    answer_reader reader(answer);
    if (!json::sax_parse(line.begin(), line.end(), &reader)) {
        answer = {};
        answer.problem = reader.nesting.too_deep ? reader.nesting.message() : reader.message;
        return answer;
    }
    if (!reader.object) {
        answer = {};
        answer.problem = "not a JSON object";
    } else if (reader.event) {
        answer = {};
        answer.type = control_answer::kind::event;
    } else if (!reader.error_text) {
        answer = {};
        answer.problem = "neither a reply nor an event: no \"error\" text";
    } else {
        answer.type = control_answer::kind::reply;
        answer.success = reader.error == "success";
        if (!answer.success) answer.error = reader.error;
    }
    return answer;
}
