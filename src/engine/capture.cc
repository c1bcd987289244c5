#include "engine/capture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/exit.h"
#include "cli/run.h"
#include "log/log.h"

FILE* mor_file = nullptr;
const char* mor_path = nullptr;
record_state mor_record{nullptr, true};
int16_t* capture_buffer = nullptr;
uint32_t capture_buffer_size = 0;
std::unique_ptr<wave_input> wave_in;

namespace {

constexpr uint32_t bytes_per_frame = 4;  // two 16-bit samples
// Frames the current tone may record into the buffer.
uint32_t capture_frames = 0;

[[noreturn]] void wave_in_failure(wave_error code) {
    log_err("%s: waveIn: %s\n", program_name, current_platform->audio.error_text(code).c_str());
    cleanup_and_exit(1);
}

// An earlier MOR file goes, and a link of that name (not what it points to);
// a device, a pipe or a directory of that name is never deleted: "-m
// /dev/null" must not take /dev/null away from the system.
void remove_earlier_file(const char* path) {
    std::error_code error;
    auto status = std::filesystem::symlink_status(path, error);
    if (!error && (std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status)))
        std::filesystem::remove(path, error);
}

}  // namespace

void open_mor_file(const char* path) {
    mor_path = path;
    mor_record = record_state{path, true};
    remove_earlier_file(path);
    mor_file = fopen(path, "w");
    if (mor_file == nullptr) {
        report_open_failure(path, errno);
        cleanup_and_exit(1);
    }
    capture_buffer_size = capture_seconds_max * capture_rate * bytes_per_frame;
    capture_buffer = static_cast<int16_t*>(malloc(capture_buffer_size));
    if (capture_buffer == nullptr) {
        err_printf("%s: out of memory\n", program_name);
        cleanup_and_exit(1);
    }
}

void capture_start(int seconds) {
    if (wave_error code = current_platform->audio.open_input(wave_in)) {
        wave_in.reset();
        wave_in_failure(code);
    }
    int capture_seconds = seconds > capture_seconds_max ? capture_seconds_max : seconds;
    capture_frames = static_cast<uint32_t>(capture_seconds * capture_rate);
    memset(capture_buffer, 0, capture_buffer_size);
    if (wave_error code = wave_in->start(pcm_block{capture_buffer, capture_frames})) wave_in_failure(code);
}

void capture_dump(double frequency) {
    uint32_t frames = wave_in->stop();
    if (frames > capture_frames) frames = capture_frames;
    if (!mor_record.failed) {
        bool written = true;
        for (uint32_t i = 0; i < frames && written; ++i)
            written = fprintf(mor_file, "%g %d %d %d\n", frequency, static_cast<int>(i), capture_buffer[2 * i],
                              capture_buffer[2 * i + 1]) >= 0;
        end_record_write(mor_file, mor_record, written);
    }
    // What was recorded is kept first; then a device that stopped answering
    // fails the run.
    if (wave_error code = wave_in->failure()) wave_in_failure(code);
    wave_in->reset();
    wave_in.reset();
}

void reset_capture_state() {
    wave_in.reset();
    mor_file = nullptr;
    mor_path = nullptr;
    mor_record = record_state{nullptr, true};
    free(capture_buffer);
    capture_buffer = nullptr;
    capture_buffer_size = 0;
    capture_frames = 0;
}
