#include "engine/status/status_line.h"

#include <cinttypes>
#include <cstdio>
#include <utility>
#include <vector>

#include "engine/clock/passes.h"
#include "engine/clock/stop_time.h"
#include "log/terminal_lines.h"
#include "process/release.h"
#include "schedule/entry_parts.h"
#include "schedule/fdt.h"
#include "schedule/schedule_summary.h"

namespace {

constexpr int draw_interval_ms = 250;
constexpr const char* separator = "  ";
constexpr const char* keys_text = "keys: + - n N s b p q";
constexpr int widest_bar = 40;
constexpr int narrowest_bar = 10;

// A part of a line and how long it stays when room is short: parts of a
// higher rank go first.
struct line_part {
    std::string text;
    int rank;
};

std::string joined(const std::vector<line_part>& parts, int highest_rank) {
    std::string line;
    for (const line_part& part : parts) {
        if (part.text.empty() || part.rank > highest_rank) continue;
        if (!line.empty()) line += separator;
        line += part.text;
    }
    return line;
}

size_t room_of(int width) {
    return width > 1 ? static_cast<size_t>(width - 1) : 0;
}

std::string fitted(const std::vector<line_part>& parts, int width) {
    const size_t room = room_of(width);
    int highest = 0;
    for (const line_part& part : parts)
        if (part.rank > highest) highest = part.rank;
    for (int rank = highest; rank >= 0; --rank) {
        std::string line = joined(parts, rank);
        if (line.size() <= room) return line;
    }
    return joined(parts, 0).substr(0, room);
}

struct playing_entry {
    double frequency = 0;
    int64_t sound_seconds = 0;
    int64_t seconds_before = 0;  // of the steady part, while the pulsed tail plays
};

playing_entry entry;
schedule_summary summary;
int ms_since_draw = draw_interval_ms;

// The sound still to come, pass_left seconds of it in this pass: the passes
// after it, up to the stop time, or while --at waits its window.
int64_t run_left_seconds(int64_t pass_left) {
    int64_t left = pass_left;
    const unsigned long long passes = passes_of_run();
    if (passes == 0) {
        left = -1;
    } else if (passes > pass_playing()) {
        const unsigned long long more = passes - pass_playing();
        const int64_t most = INT64_MAX - left;
        left = summary.seconds > 0 && more > static_cast<unsigned long long>(most / summary.seconds)
                   ? INT64_MAX
                   : left + static_cast<int64_t>(more) * summary.seconds;
    }
    const int64_t stop = stop_time_seconds_left();
    if (stop >= 0 && (left < 0 || stop < left)) left = stop;
    return left;
}

}  // namespace

std::string clock_text(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[48];
    if (seconds >= 3600)
        snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600, static_cast<int>(seconds / 60 % 60),
                 static_cast<int>(seconds % 60));
    else
        snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    return text;
}

std::string status_line_text(const status_fields& fields, int width) {
    const std::vector<line_part> parts = {
        {fields.frequency + " Hz", 0},
        {clock_text(fields.elapsed_seconds) + " / " + clock_text(fields.total_seconds), 2},
        {fields.paused ? "paused" : fields.waiting, 1},
        {"tone " + std::to_string(fields.tone_number) + " of " + std::to_string(fields.tone_count), 4},
        {fields.schedule_left_seconds >= 0 ? clock_text(fields.schedule_left_seconds) + " left" : "", 3},
        {keys_text, 5},
    };
    return fitted(parts, width);
}

std::string progress_bar_text(uint64_t done, uint64_t total, int64_t seconds_left, int width) {
    if (done > total) done = total;
    const uint64_t percent = total == 0 ? 100 : done * 100 / total;
    std::vector<line_part> parts = {
        {"export", 2},
        {"", 1},  // the bar, sized to the room left
        {std::to_string(percent) + "%", 0},
        {seconds_left >= 0 ? clock_text(seconds_left) + " left" : "", 1},
    };
    const size_t room = room_of(width);
    const size_t others = joined(parts, 2).size();
    const size_t framing = 2 + 2;  // brackets and separator
    if (room >= others + framing + narrowest_bar) {
        size_t inner = room - others - framing;
        if (inner > widest_bar) inner = widest_bar;
        const size_t filled = total == 0 ? inner : static_cast<size_t>(done * inner / total);
        std::string bar;
        bar.reserve(inner + 2);
        bar.append(1, '[').append(filled, '#').append(inner - filled, '-').append(1, ']');
        parts[1].text = std::move(bar);
    }
    return fitted(parts, width);
}

void status_line_entry(double frequency, int duration) {
    // Printed only when drawn: a schedule of many short entries would pay
    // for it once more per line.
    entry = playing_entry{frequency, entry_sound_seconds(duration), 0};
}

void status_line_tail(int seconds_before) {
    entry.seconds_before = seconds_before > 0 ? seconds_before : 0;
}

namespace {

// True when the line may be drawn again, slept_ms after the step before.
bool draw_due(int slept_ms) {
    if (ms_since_draw < draw_interval_ms) ms_since_draw += slept_ms;
    return ms_since_draw >= draw_interval_ms;
}

void draw_status_line(int slept_ms, int64_t part_elapsed, bool paused, const std::string& waiting) {
    if (!draw_due(slept_ms)) return;
    const int width = terminal_line_width(terminal_line_role::status);
    if (width == 0) return;
    status_fields fields = status_line_fields(part_elapsed);
    fields.paused = paused;
    fields.waiting = waiting;
    if (offer_terminal_line(terminal_line_role::status, status_line_text(fields, width))) ms_since_draw = 0;
}

}  // namespace

status_fields status_line_fields(int64_t part_elapsed) {
    follow_schedule(summary);
    int64_t elapsed = entry.seconds_before + (part_elapsed > 0 ? part_elapsed : 0);
    if (elapsed > entry.sound_seconds) elapsed = entry.sound_seconds;
    status_fields fields;
    char frequency[32];
    snprintf(frequency, sizeof frequency, "%g", entry.frequency);
    fields.frequency = frequency;
    fields.frequency_hz = entry.frequency;
    fields.elapsed_seconds = elapsed;
    fields.total_seconds = entry.sound_seconds;
    fields.tone_number = summary.tones_through;
    fields.tone_count = summary.tones;
    fields.schedule_left_seconds = run_left_seconds(entry.sound_seconds - elapsed + summary.seconds_after);
    return fields;
}

void status_line_step(int slept_ms, int64_t part_elapsed, bool paused) {
    draw_status_line(slept_ms, part_elapsed, paused, "");
}

void status_line_waiting(int slept_ms, int64_t part_elapsed, int64_t waited, int64_t limit) {
    draw_status_line(slept_ms, part_elapsed, false, "no sound device " + clock_text(waited) + " of " + clock_text(limit));
}

void status_line_countdown(int slept_ms, const std::string& text) {
    if (!draw_due(slept_ms)) return;
    const int width = terminal_line_width(terminal_line_role::status);
    if (width != 0 && offer_terminal_line(terminal_line_role::status, fitted({{text, 0}}, width))) ms_since_draw = 0;
}

void reset_status_line() {
    entry = playing_entry{};
    summary = schedule_summary{};
    ms_since_draw = draw_interval_ms;
}

namespace {

const reset_step reset_status_line_step{reset_status_line};

}  // namespace
