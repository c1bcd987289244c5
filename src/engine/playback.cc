#include "engine/playback.h"

#include <cstdint>

#include "engine/capture.h"
#include "engine/control.h"
#include "engine/file_export.h"
#include "engine/keys.h"
#include "engine/render.h"
#include "engine/status_line.h"
#include "engine/wavetables.h"
#include "log/log.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"

namespace {

constexpr int poll_step_ms = 50;

void release_output_device() {
    if (!wave_out) return;
    wave_out->reset();
    wave_out.reset();
}

const release_step output_device_release{release_order::output_device, release_output_device,
                                         [] { wave_out.reset(); }};

// The machine stays awake from the first tone that sounds to the end of the
// run; an export sounds nothing and takes no lock.
void hold_sleep_inhibitor() {
    if (!settings.allow_sleep) current_platform->sleep.hold();
}

const release_step sleep_lock_release{release_order::sleep_lock, [] {
    if (current_platform != nullptr) current_platform->sleep.release();
}};

// One second each, for the whole run: one plays while the other is refilled.
int16_t play_buffer_a[2 * sample_rate];
int16_t play_buffer_b[2 * sample_rate];

[[noreturn]] void wave_out_failure(wave_error code) {
    log_err("%s: waveOut: %s\n", program_name, current_platform->audio.error_text(code).c_str());
    cleanup_and_exit(1);
}

// What the record holds so far survives a power cut too: once a tone, while
// the device has two seconds queued.
void sync_records() {
    sync_record(session_file, session_record);
    sync_record(mor_file, mor_record);
}

// How long a reopening waits between tries while a device is away.
constexpr int reopen_interval_ms = 1000;

// A device that failed, and how.
struct device_failure {
    bool input = false;
    wave_error code = 0;
};

[[noreturn]] void device_failure_exit(const device_failure& failure) {
    if (failure.input) wave_in_failure(failure.code);
    wave_out_failure(failure.code);
}

void report_device(const device_failure& failure, const char* what) {
    log_err("%s: %s: %s%s\n", program_name, failure.input ? "waveIn" : "waveOut",
            current_platform->audio.error_text(failure.code).c_str(), what);
}

// Opens the output device and, with -m, the input device, whichever is not
// open yet. False with the failure when one does not open.
bool open_devices(device_failure& failure) {
    if (!wave_out) {
        if (wave_error code = current_platform->audio.open_output(settings.output_device, wave_out)) {
            wave_out.reset();
            failure = {false, code};
            return false;
        }
    }
    if (mor_file != nullptr && !wave_in) {
        if (wave_error code = capture_open()) {
            failure = {true, code};
            return false;
        }
    }
    return true;
}

// One call of play_tone from the first queued second to the tear-down.
struct tone_player {
    double frequency;
    int seconds;
    render_state state;
    int64_t start_second;
    // Set when a device fails while the tone plays.
    device_failure failed{};

    // False when the device failed.
    bool render_and_queue(const pcm_block& block) {
        render_buffer(state, block.samples);
        if (wave_error code = wave_out->write(block)) {
            failed = {false, code};
            return false;
        }
        return true;
    }

    // A device that stopped answering on its own while the tone plays.
    bool devices_fail() {
        if (wave_error code = wave_out->failure()) failed = {false, code};
        else if (wave_error input_code = capture_failure()) failed = {true, input_code};
        else return false;
        return true;
    }

    bool time_is_over() const {
        int64_t now = current_platform->clock.now_seconds();
        // A clock set back ends the tone too.
        return now < start_second || now > start_second + seconds;
    }

    // Sleeps, acts on a key, tests the clock. False when the tone ends or a
    // device fails (failed tells).
    bool poll_step() {
        flush_records();
        current_platform->clock.sleep_ms(poll_step_ms);
        check_interrupt();
        const int64_t elapsed = current_platform->clock.now_seconds() - start_second;
        const int code = poll_keys_and_control(run_phase::playing, elapsed);
        if (dispatch_key(code, frequency, start_second) == key_effect::tone_ends) return false;
        if (time_is_over()) return false;
        if (settings.wait_for_device != 0 && devices_fail()) return false;
        status_line_step(poll_step_ms, current_platform->clock.now_seconds() - start_second, false);
        return true;
    }

    // False when the tone ends while waiting. A block already back is
    // refilled without sleeping, but the clock is still tested, so that a
    // device handing blocks back faster than real time cannot keep the tone
    // going past its end.
    bool wait_until_done(const pcm_block& block) {
        while (!wave_out->is_done(block))
            if (!poll_step()) return false;
        return !time_is_over();
    }

    // Plays until the tone ends or a device fails.
    void play_on_open_devices() {
        const pcm_block a{play_buffer_a, sample_rate};
        const pcm_block b{play_buffer_b, sample_rate};
        // Both seconds go out back to back first, so the device always holds
        // one playing and one queued.
        if (!render_and_queue(a) || !render_and_queue(b)) return;
        sync_records();
        while (wait_until_done(a)) {
            if (!render_and_queue(a) || !wait_until_done(b) || !render_and_queue(b)) return;
        }
    }

    // The devices are closed, and reopened about once a second while the
    // keys act, until they answer, the tone ends by a key, or the wait runs
    // out (the run then ends as it would without waiting). The tone keeps
    // the time it still had, as after a pause. True when the devices are
    // open again.
    bool wait_for_devices() {
        clock_source& clock = current_platform->clock;
        report_device(failed, (" (waiting up to " + std::to_string(settings.wait_for_device) +
                               " s for it to answer again)").c_str());
        tell_control_clients(run_event::device_lost);
        close_devices();
        const int64_t waited_from = clock.now_seconds();
        const int64_t played = waited_from - start_second;
        int since_try_ms = 0;
        for (;;) {
            flush_records();
            clock.sleep_ms(poll_step_ms);
            check_interrupt();
            const int64_t waited = clock.now_seconds() - waited_from;
            const int code = poll_keys_and_control(run_phase::waiting_for_device, played);
            if (dispatch_key(code, frequency, start_second) == key_effect::tone_ends) return false;
            status_line_waiting(poll_step_ms, played, waited, settings.wait_for_device);
            since_try_ms += poll_step_ms;
            if (since_try_ms < reopen_interval_ms) continue;
            since_try_ms = 0;
            if (open_devices(failed)) {
                start_second = clock.now_seconds() - played;
                log_err("%s: %s: the sound device answers again, after %lld s without sound\n", program_name,
                        failed.input ? "waveIn" : "waveOut", static_cast<long long>(waited));
                tell_control_clients(run_event::device_back);
                return true;
            }
            if (waited >= settings.wait_for_device) device_failure_exit(failed);
        }
    }

    void close_devices() {
        capture_suspend();
        if (!wave_out) return;
        wave_out->reset();
        wave_out.reset();
    }

    // Opens the devices, waiting for them where the run may, and plays the
    // tone through, riding out devices that fail on the way.
    void play() {
        const bool opened = open_devices(failed);
        start_second = current_platform->clock.now_seconds();
        if (!opened) {
            if (settings.wait_for_device == 0) device_failure_exit(failed);
            if (!wait_for_devices()) return;
        }
        for (;;) {
            failed = {};
            play_on_open_devices();
            if (failed.code == 0) return;
            if (settings.wait_for_device == 0) device_failure_exit(failed);
            if (!wait_for_devices()) return;
        }
    }
};

int saturated_difference(int a, int b) {
    int64_t difference = int64_t{a} - b;
    if (difference > INT32_MAX) return INT32_MAX;
    if (difference < INT32_MIN) return INT32_MIN;
    return static_cast<int>(difference);
}

}  // namespace

entry_parts split_entry(int duration) {
    const int pulse = settings.pulse_frequency;
    const int pulse_seconds = settings.pulse_duration;
    if (pulse != 0 && pulse_seconds != 0 && duration >= pulse_seconds)
        return {saturated_difference(duration, pulse_seconds), 0, true, pulse_seconds, pulse};
    return {duration, pulse, false, 0, 0};
}

int64_t entry_sound_seconds(int duration) {
    const entry_parts parts = split_entry(duration);
    int64_t seconds = parts.first_seconds >= 1 ? parts.first_seconds : 0;
    if (parts.split && parts.tail_seconds >= 1) seconds += parts.tail_seconds;
    return seconds;
}

void play_entry(double frequency, int duration) {
    log_out("  %g, %d\n", frequency, duration);
    const entry_parts parts = split_entry(duration);
    status_line_entry(frequency, duration);
    tell_control_clients_tone_start(frequency, duration);
    play_tone(frequency, parts.first_seconds, parts.first_pulse);
    if (parts.split) {
        // The pulsed tail of the tone, on a device of its own.
        status_line_tail(parts.first_seconds);
        play_tone(frequency, parts.tail_seconds, parts.tail_pulse);
    }
}

void play_tone(double frequency, int seconds, int pulse) {
    build_wavetables();
    if (seconds < 1) return;
    // The tone's line is in the files before it sounds (or is written).
    flush_records();
    if (export_file) {
        export_tone(frequency, seconds, pulse);
        return;
    }
    hold_sleep_inhibitor();
    if (mor_file != nullptr) capture_begin(seconds);

    tone_player player{frequency, seconds, render_start(frequency, pulse), 0};
    player.play();

    if (mor_file != nullptr) capture_dump(frequency);
    if (!wave_out) return;  // a key ended the tone while its device was away
    wave_out->reset();
    // A device that stopped answering as the tone ended fails the run too,
    // unless the run waits for devices: the next tone then waits for it.
    if (wave_error code = wave_out->failure()) {
        if (settings.wait_for_device == 0) wave_out_failure(code);
        report_device({false, code}, "");
    }
    wave_out.reset();
}
