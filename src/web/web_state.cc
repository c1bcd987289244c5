#include "web/web_state.h"

#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "engine/status/status_line.h"

using json = nlohmann::json;

namespace {

// Nothing the run writes nests deeper; a line that does is not read.
json parsed(std::string_view line) {
    return json::parse(line.begin(), line.end(), nullptr, false);
}

std::string hz_text(double frequency) {
    char text[64];
    snprintf(text, sizeof text, "%g Hz", frequency);
    return text;
}

int64_t whole(const json& value, int64_t otherwise = 0) {
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_unsigned()) {
        const uint64_t got = value.get<uint64_t>();
        return got > INT64_MAX ? INT64_MAX : static_cast<int64_t>(got);
    }
    return otherwise;
}

uint32_t count(const json& value) {
    const int64_t got = whole(value);
    return got < 0 ? 0 : got > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(got);
}

std::string text(const json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

const json& field(const json& object, const char* name) {
    static const json none;
    const auto found = object.find(name);
    return found != object.end() ? *found : none;
}

// Seconds as the status line gives them; below 0 as 0.
std::string clock_of(int64_t seconds) {
    return clock_text(seconds < 0 ? 0 : seconds);
}

}  // namespace

web_run_line read_run_line(std::string_view line) {
    web_run_line read;
    const json value = parsed(line);
    if (!value.is_object()) return read;
    if (value.contains("event")) {
        read.type = web_run_line::kind::event;
        read.event = text(value, "event");
        read.status = static_cast<int>(whole(field(value, "status")));
        return read;
    }
    if (!field(value, "error").is_string()) return read;
    read.type = web_run_line::kind::reply;
    read.error = text(value, "error");
    read.success = read.error == "success";
    if (read.success) read.error.clear();
    return read;
}

bool read_status_reply(std::string_view line, web_run_view& view) {
    const json value = parsed(line);
    if (!value.is_object()) return false;
    const json& data = field(value, "data");
    if (!data.is_object() || !field(data, "state").is_string()) return false;
    view.known = true;
    view.state = text(data, "state");
    const json& frequency = field(data, "frequency");
    view.frequency = frequency.is_number() ? frequency.get<double>() : 0;
    view.duration = whole(field(data, "duration"));
    view.elapsed = whole(field(data, "elapsed"));
    view.left = whole(field(data, "left"));
    view.index = count(field(data, "index"));
    view.entries = count(field(data, "entries"));
    view.starts_at = text(data, "starts_at");
    view.starts_in = whole(field(data, "starts_in"));
    return true;
}

bool read_schedule_reply(std::string_view line, web_run_view& view) {
    const json value = parsed(line);
    if (!value.is_object()) return false;
    const json& data = field(value, "data");
    if (!data.is_array()) return false;
    view.next.clear();
    // The first entry is the playing one, unless the run has not begun.
    bool first = view.state != "waiting to start";
    for (const json& entry : data) {
        if (!entry.is_object() || !field(entry, "frequency").is_number()) continue;
        if (first) {
            first = false;
            continue;
        }
        if (view.next.size() >= web_next_tones) break;
        view.next.push_back(hz_text(field(entry, "frequency").get<double>()) + " for " +
                            clock_of(whole(field(entry, "duration"))));
    }
    return true;
}

std::string web_page_json(const web_run_view& view) {
    json page;
    page["known"] = view.known;
    page["ended"] = view.ended;
    page["lost"] = view.lost && !view.ended;
    if (view.ended) {
        page["state"] = view.end_status == 0 ? "the run has ended" : "the run has ended with status " +
                                                                      std::to_string(view.end_status);
    } else if (view.lost) {
        page["state"] = "no answer from the run";
    } else {
        page["state"] = view.known ? view.state : "starting";
    }
    const bool shows_tone = view.known && !view.ended && view.index > 0 && view.state != "waiting to start";
    page["frequency"] = shows_tone ? hz_text(view.frequency) : "";
    page["tone_left"] = shows_tone ? clock_of(view.duration - view.elapsed) : "";
    page["run_left"] = view.known && !view.ended ? clock_of(view.left) : "";
    page["place"] = shows_tone ? std::to_string(view.index) + " of " + std::to_string(view.entries) : "";
    page["starts"] = view.known && !view.ended && !view.starts_at.empty()
                         ? "starts " + view.starts_at + ", in " + clock_of(view.starts_in)
                         : "";
    page["next"] = view.ended ? std::vector<std::string>{} : view.next;
    // Invalid UTF-8 from a comment or an error text is replaced, not thrown.
    return page.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string web_reply_json(const std::string& error) {
    json reply;
    reply["error"] = error.empty() ? "success" : error;
    return reply.dump(-1, ' ', false, json::error_handler_t::replace);
}
