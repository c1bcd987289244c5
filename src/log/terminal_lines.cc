#include "log/terminal_lines.h"

#include <cstdio>

#include "log/log.h"
#include "process/release.h"
#include "process/state.h"

namespace {

// Assumed when the terminal does not tell its width.
constexpr int usual_width = 80;

std::string drawn_text[2];

terminal_line* line_for(terminal_line_role role) {
    if (current_platform == nullptr) return nullptr;
    return role == terminal_line_role::status ? &current_platform->status_line : &current_platform->progress_line;
}

// The line is written straight to the terminal, so what the streams hold
// goes out first.
void flush_streams() {
    flush_record(out_stream, out_record);
    fflush(out_stream);
    fflush(err_stream);
}

void take_away(terminal_line& line) {
    if (!line.showing()) return;
    flush_streams();
    line.erase();
}

}  // namespace

int terminal_line_width(terminal_line_role role) {
    terminal_line* line = line_for(role);
    if (line == nullptr || !line->usable()) return 0;
    int width = line->width();
    return width > 0 ? width : usual_width;
}

bool offer_terminal_line(terminal_line_role role, const std::string& text) {
    terminal_line* line = line_for(role);
    if (line == nullptr) return false;
    if (text.empty()) {
        take_away(*line);
        return false;
    }
    std::string& drawn = drawn_text[static_cast<int>(role)];
    if (line->showing() && text == drawn) return false;
    flush_streams();
    line->show(text);
    drawn = text;
    return true;
}

void clear_terminal_lines() {
    for (terminal_line_role role : {terminal_line_role::status, terminal_line_role::progress})
        if (terminal_line* line = line_for(role)) take_away(*line);
}

void reset_terminal_lines() {
    for (std::string& text : drawn_text) text.clear();
}

namespace {

const reset_step reset_terminal_lines_step{reset_terminal_lines};

}  // namespace
