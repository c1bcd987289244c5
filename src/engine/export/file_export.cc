#include "engine/export/file_export.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/clock/passes.h"
#include "engine/sound/render.h"
#include "engine/status/status_line.h"
#include "log/log.h"
#include "log/terminal_lines.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"
#include "schedule/entry_parts.h"
#include "schedule/fdt.h"

std::unique_ptr<sound_file> export_file;

namespace {

// The most sound a WAV file can hold: its sizes are 32-bit, and the RIFF
// size counts 36 bytes of header besides the data.
constexpr uint64_t wav_data_bytes_max = UINT32_MAX - 36;

// One second, rendered and written before the next.
int16_t export_buffer[2 * sample_rate];
const char* export_path = nullptr;
bool export_done = false;
uint64_t frames_total = 0;
uint64_t frames_done = 0;
int64_t started_second = 0;

const release_step export_release{release_order::sound_export, abandon_export, reset_export_state};
// A requested file that was not written is a failure, not a quiet status 0.
const interrupt_step export_interrupt{[] {
    if (export_pending()) interrupt_export();
}};

// The name's ending after its last dot, in lower case.
std::string type_of(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c)
        if (*c == '/' || *c == '\\') name = c + 1;
    const char* dot = strrchr(name, '.');
    if (dot == nullptr) return "";
    std::string type(dot + 1);
    for (char& c : type)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return type;
}

[[noreturn]] void export_failure(const std::string& text) {
    clear_terminal_lines();
    err_printf("%s: %s: %s\n", program_name, export_path, text.c_str());
    cleanup_and_exit(1);
}

uint64_t schedule_frames() {
    uint64_t seconds = 0;
    for (uint32_t i = 0; i < num_fdt; ++i)
        if (fdt[i].text == nullptr) seconds += static_cast<uint64_t>(entry_sound_seconds(fdt[i].duration));
    return seconds * sample_rate;
}

void show_progress() {
    const int width = terminal_line_width(terminal_line_role::progress);
    if (width == 0) return;
    const int64_t elapsed = current_platform->clock.now_seconds() - started_second;
    int64_t left = -1;
    if (elapsed >= 1 && frames_done > 0)
        left = static_cast<int64_t>(static_cast<double>(elapsed) * static_cast<double>(frames_total - frames_done) /
                                    static_cast<double>(frames_done));
    offer_terminal_line(terminal_line_role::progress, progress_bar_text(frames_done, frames_total, left, width));
}

}  // namespace

std::string export_type_list() {
    const std::vector<std::string> types = current_platform->sound_writer.types();
    std::string list;
    for (size_t i = 0; i < types.size(); ++i) {
        if (i > 0) list += i + 1 == types.size() ? " or " : ", ";
        list += "." + types[i];
    }
    return list;
}

void check_export_type(const char* path) {
    const std::vector<std::string> types = current_platform->sound_writer.types();
    if (types.empty()) {
        log_err("%s: %s: this system writes no sound files\n", program_name, path);
        cleanup_and_exit(1);
    }
    if (std::find(types.begin(), types.end(), type_of(path)) != types.end()) return;
    log_err("%s: %s: unknown sound file type: use %s\n", program_name, path, export_type_list().c_str());
    cleanup_and_exit(1);
}

void begin_export(const char* path) {
    export_path = path;
    frames_total = frames_of_all_passes(schedule_frames());
    frames_done = 0;
    std::string type = type_of(path);
    const bool too_long_for_wav = type == "wav" && frames_total * uint64_t{bytes_per_frame} > wav_data_bytes_max;
    if (too_long_for_wav) type = "rf64";
    std::string error;
    export_file = current_platform->sound_writer.create(path, type, frames_total, error);
    if (!export_file) export_failure(error);
    // Said only once it is so: a system without RF64 refuses instead.
    if (too_long_for_wav)
        log_err("%s: %s: longer than a WAV file can hold (6 h 45 min): written as RF64\n", program_name, path);
    started_second = current_platform->clock.now_seconds();
}

void export_frames(const int16_t* samples, uint32_t frames) {
    if (frames == 0) return;
    if (!export_file->write(samples, frames)) export_failure(export_file->error());
    frames_done += frames;
    show_progress();
}

void export_tone(double frequency, int seconds, int pulse) {
    render_state state = render_start(frequency, pulse);
    for (int second = 0; second < seconds; ++second) {
        check_interrupt();
        render_buffer(state, export_buffer);
        if (!export_file->write(export_buffer, sample_rate)) export_failure(export_file->error());
        frames_done += sample_rate;
        show_progress();
    }
}

void finish_export() {
    offer_terminal_line(terminal_line_role::progress, "");
    if (!export_file->finish()) export_failure(export_file->error());
    export_file.reset();
    export_done = true;
}

bool export_pending() {
    return settings.output_path != nullptr && !export_done;
}

void interrupt_export() {
    export_path = settings.output_path;
    export_failure("not written: interrupted");
}

void abandon_export() {
    export_file.reset();
}

void reset_export_state() {
    export_file.reset();
    export_path = nullptr;
    export_done = false;
    frames_total = 0;
    frames_done = 0;
    started_second = 0;
}
