#include "engine/capture/capture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "log/log.h"
#include "platform/os.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"

const char* mor_path = nullptr;
record_state mor_record{nullptr, true};
int16_t* capture_buffer = nullptr;
uint32_t capture_buffer_size = 0;

namespace {

// How long a tone's end waits for input still on its way: beyond a sound
// server's fragments and the ALSA reader's quarter-second period.
constexpr int64_t capture_patience_ms = 400;
constexpr int capture_patience_step_ms = 10;

// Frames the current tone may record into the buffer, and those recorded
// before a gap in the sound (the device failed and was opened again).
uint32_t capture_frames = 0;
uint32_t frames_before_gap = 0;

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
    // A FIFO that nobody reads yet is waited for, until Ctrl-C.
    int error = 0;
    mor_file = open_file_interruptibly(path, "w", pending_signal, error);
    if (mor_file == nullptr) {
        check_interrupt();
        report_open_failure(path, error);
        cleanup_and_exit(1);
    }
    capture_buffer_size = capture_seconds_max * capture_rate * bytes_per_frame;
    capture_buffer = static_cast<int16_t*>(malloc(capture_buffer_size));
    if (capture_buffer == nullptr) {
        err_printf("%s: out of memory\n", program_name);
        cleanup_and_exit(1);
    }
}

void capture_begin(int seconds) {
    int capture_seconds = seconds > capture_seconds_max ? capture_seconds_max : seconds;
    capture_frames = static_cast<uint32_t>(capture_seconds * capture_rate);
    frames_before_gap = 0;
    memset(capture_buffer, 0, capture_buffer_size);
}

wave_error capture_open(int answer_limit_ms) {
    // A tone whose ten seconds are recorded already needs no input again.
    if (frames_before_gap >= capture_frames) return 0;
    wave_error code = current_platform->audio.open_input(settings.input_device, wave_in, answer_limit_ms);
    if (code == 0)
        code = wave_in->start(pcm_block{capture_buffer + 2 * frames_before_gap, capture_frames - frames_before_gap});
    if (code != 0) wave_in.reset();
    return code;
}

namespace {

// Stops the device and keeps the frames it recorded; the device's failure,
// which the stop may reveal.
wave_error stop_and_keep() {
    uint32_t frames = wave_in->stop();
    if (frames > capture_frames - frames_before_gap) frames = capture_frames - frames_before_gap;
    frames_before_gap += frames;
    return wave_in->failure();
}

}  // namespace

void capture_suspend() {
    if (!wave_in) return;
    stop_and_keep();
    wave_in->reset();
    wave_in.reset();
}

wave_error capture_failure() {
    return wave_in ? wave_in->failure() : 0;
}

namespace {

// The tone's end is judged on a whole-second clock from the moment its
// input started, but the input arrives a little late (a sound server hands
// it over in fragments): a tone that began just before a second turned may
// end with its last few milliseconds of input not yet in.
void wait_for_last_frames() {
    clock_source& clock = current_platform->clock;
    const uint32_t wanted = capture_frames - frames_before_gap;
    const int64_t until = clock.monotonic_ms() + capture_patience_ms;
    while (wave_in->failure() == 0 && wave_in->recorded() < wanted && clock.monotonic_ms() < until) {
        clock.sleep_ms(capture_patience_step_ms);
        check_interrupt();
    }
}

}  // namespace

wave_error capture_dump(double frequency, bool tone_ran_its_length) {
    if (wave_in && tone_ran_its_length) wait_for_last_frames();
    const wave_error failed = wave_in ? stop_and_keep() : 0;
    write_capture_block(frequency);
    if (wave_in) {
        wave_in->reset();
        wave_in.reset();
    }
    return failed;
}

void write_capture_block(double frequency) {
    write_mor_block(frequency, capture_buffer, frames_before_gap);
}

void write_mor_block(double frequency, const int16_t* samples, uint32_t frames) {
    if (mor_record.failed) return;
    bool written = true;
    for (uint32_t i = 0; i < frames && written; ++i)
        written = fprintf(mor_file, "%g %d %d %d\n", frequency, static_cast<int>(i), samples[2 * i],
                          samples[2 * i + 1]) >= 0;
    end_record_write(mor_file, mor_record, written);
}

namespace {

void release_input_device() {
    if (!wave_in) return;
    wave_in->reset();
    wave_in.reset();
}

void release_mor_file() {
    if (mor_file == nullptr) return;
    close_record(mor_file, mor_record);
    mor_file = nullptr;
}

const release_step input_device_release{release_order::input_device, release_input_device, reset_capture_state};
const release_step mor_file_release{release_order::mor_output, release_mor_file};

}  // namespace

void reset_capture_state() {
    wave_in.reset();
    mor_file = nullptr;
    mor_path = nullptr;
    mor_record = record_state{nullptr, true};
    free(capture_buffer);
    capture_buffer = nullptr;
    capture_buffer_size = 0;
    capture_frames = 0;
    frames_before_gap = 0;
}
