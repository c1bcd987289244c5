#include "engine/playing/playback.h"

#include <cstdint>

#include "engine/capture/capture.h"
#include "engine/control/control.h"
#include "engine/capture/device_wait.h"
#include "engine/export/file_export.h"
#include "engine/playing/keys.h"
#include "engine/sound/render.h"
#include "engine/status/status_line.h"
#include "engine/clock/stop_time.h"
#include "engine/sound/wavetables.h"
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

// What the record holds so far survives a power cut too: once a tone, while
// the device has two seconds queued.
void sync_records() {
    sync_record(session_file, session_record);
    sync_record(mor_file, mor_record);
}

// One call of play_tone from the first queued second to the tear-down.
struct tone_player {
    double frequency;
    int seconds;
    render_state state;
    int64_t start_second;
    // Set when a device fails while the tone plays.
    device_failure failed{};
    // The tone's seconds known to have sounded: up to the last block the
    // device played.
    int64_t heard_seconds = 0;
    bool paused_since_refill = false;
    bool told_ran_dry = false;
    // Once --until cut the tone: the seconds it had sounded.
    int64_t cut_seconds = -1;

    void cut_by_stop_time(int64_t sounded) {
        cut_seconds = sounded < 0 ? 0 : sounded > seconds ? seconds : sounded;
    }

    // False when the device failed.
    bool render_and_queue(const pcm_block& block) {
        render_buffer(state, block.samples);
        if (wave_error code = wave_out->write(block)) {
            failed = {false, code};
            return false;
        }
        return true;
    }

    bool time_is_over() const {
        int64_t now = current_platform->clock.now_seconds();
        // A clock set back ends the tone too.
        return now < start_second || now > start_second + seconds;
    }

    // An input that went away leaves the tone playing: it is tried again
    // while the tone plays on. True when the tone goes on.
    bool input_failed_on_its_own(const device_failure& failure) {
        if (!failure.input || settings.wait_for_device == 0) return false;
        device_wait::begin(failure);
        capture_suspend();
        return true;
    }

    void try_input_again() {
        if (!device_wait::active() || !device_wait::failure().input || !device_wait::try_due()) return;
        device_failure failure;
        if (open_input_device(failure, device_wait::try_answer_limit_ms())) {
            device_wait::reopened();
            device_wait::heard();
        } else {
            device_wait::begin(failure);
        }
    }

    // Sleeps, acts on a key, tests the clock and the devices. False when the
    // tone ends or a device fails (failed tells).
    bool poll_step() {
        flush_records();
        current_platform->clock.sleep_ms(poll_step_ms);
        check_interrupt();
        const int64_t elapsed = current_platform->clock.now_seconds() - start_second;
        const int key = poll_keys_and_control(run_phase::playing, elapsed);
        // A pause lets the device run out of sound on purpose.
        if (key == 'p') paused_since_refill = true;
        if (dispatch_key(key, frequency, start_second) == key_effect::tone_ends) return false;
        if (time_is_over()) return false;
        if (stop_time_has_come()) {
            cut_by_stop_time(current_platform->clock.now_seconds() - start_second);
            return false;
        }
        device_failure failure;
        if (devices_failed(failure) && !input_failed_on_its_own(failure)) {
            failed = failure;
            return false;
        }
        device_wait::end_run_if_over();
        try_input_again();
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
        if (wave_out->failure() == 0) {
            // The device is heard: a wait for it is over.
            if (!device_wait::active() || !device_wait::failure().input) device_wait::heard();
            heard_seconds = current_platform->clock.now_seconds() - start_second;
        }
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
        paused_since_refill = false;
        while (wait_until_done(a)) {
            tell_if_ran_dry(b);
            if (!render_and_queue(a) || !wait_until_done(b)) return;
            tell_if_ran_dry(a);
            if (!render_and_queue(b)) return;
        }
    }

    // Both blocks back at a refill, with no pause between: the device had
    // nothing left to play, and the tone has a gap. Said once a tone, so that
    // a record of the run shows it; the run goes on.
    void tell_if_ran_dry(const pcm_block& other) {
        const bool dry = !paused_since_refill && wave_out->is_done(other) && wave_out->failure() == 0;
        paused_since_refill = false;
        if (!dry || told_ran_dry) return;
        told_ran_dry = true;
        log_err("%s: waveOut: the sound ran out %s into the tone: the machine was too busy to feed the sound "
                "device in time\n",
                program_name, clock_text(current_platform->clock.now_seconds() - start_second).c_str());
    }

    // The devices are closed, and tried again about once a second while the
    // keys act, until they open, the tone ends by a key, or the wait runs
    // out (the run then ends as it would without waiting). The tone keeps
    // the time it had sounded, as after a pause. True when the devices are
    // open again.
    bool wait_for_devices() {
        clock_source& clock = current_platform->clock;
        const bool was_waiting = device_wait::active();
        device_wait::begin(failed);
        close_devices();
        // A device that failed again before it was heard gave the tone none
        // of the time since.
        const int64_t played = was_waiting ? heard_seconds : clock.now_seconds() - start_second;
        for (;;) {
            flush_records();
            clock.sleep_ms(poll_step_ms);
            check_interrupt();
            device_wait::end_run_if_over();
            const int key = poll_keys_and_control(run_phase::waiting_for_device, played);
            if (dispatch_key(key, frequency, start_second) == key_effect::tone_ends) return false;
            if (stop_time_has_come()) {
                cut_by_stop_time(played);
                return false;
            }
            status_line_waiting(poll_step_ms, played, device_wait::waited_seconds(), settings.wait_for_device);
            if (!device_wait::try_due()) continue;
            if (open_devices(failed, device_wait::try_answer_limit_ms())) {
                start_second = clock.now_seconds() - played;
                heard_seconds = played;
                device_wait::reopened();
                return true;
            }
            // A try cut short by a signal is no failure to report.
            check_interrupt();
            device_wait::begin(failed);
        }
    }

    // The first opening failed, or a device failed while the tone played:
    // the run ends, or waits for it. False when the tone ends meanwhile.
    bool ride_out_failure() {
        check_interrupt();
        if (settings.wait_for_device == 0) {
            // The input's frames so far go into the file before the run ends.
            if (failed.input) {
                capture_suspend();
                write_capture_block(frequency);
            }
            device_failure_exit(failed);
        }
        return wait_for_devices();
    }

    // Opens the devices, waiting for them where the run may, and plays the
    // tone through, riding out devices that fail on the way.
    void play() {
        device_failure opening{};
        const bool opened = open_devices(opening, device_answer_limit_ms);
        start_second = current_platform->clock.now_seconds();
        if (!opened) {
            failed = opening;
            // Without its input the tone plays all the same, while the
            // input is waited for.
            if (!(wave_out && input_failed_on_its_own(opening)) && !ride_out_failure()) return;
        }
        for (;;) {
            failed = {};
            play_on_open_devices();
            if (failed.code == 0) return;
            if (!ride_out_failure()) return;
        }
    }
};

void failed_as_the_tone_ended(const device_failure& failure) {
    if (settings.wait_for_device == 0) device_failure_exit(failure);
    device_wait::begin(failure);
}

}  // namespace

void play_entry(double frequency, int duration) {
    log_tone_line(frequency, duration);
    const entry_parts parts = split_entry(duration);
    status_line_entry(frequency, duration);
    tell_control_clients_tone_start(frequency, duration);
    int64_t cut = play_tone(frequency, parts.first_seconds, parts.first_pulse);
    if (parts.split && cut < 0) {
        // The pulsed tail of the tone, on a device of its own.
        status_line_tail(parts.first_seconds);
        const int64_t tail_cut = play_tone(frequency, parts.tail_seconds, parts.tail_pulse);
        if (tail_cut >= 0) cut = parts.first_seconds + tail_cut;
    }
    // The record replays what was heard.
    if (cut >= 0 && cut < entry_sound_seconds(duration)) log_tone_cut(cut);
}

int64_t play_tone(double frequency, int seconds, int pulse) {
    build_wavetables();
    if (seconds < 1) return -1;
    // The pulsed tail of a tone that --until stopped stays silent too.
    if (stop_time_has_come()) return 0;
    // The tone's line is in the files before it sounds (or is written).
    flush_records();
    if (export_file) {
        export_tone(frequency, seconds, pulse);
        return -1;
    }
    hold_sleep_inhibitor();
    if (mor_file != nullptr) capture_begin(seconds);

    tone_player player{frequency, seconds, render_start(frequency, pulse), 0};
    player.play();

    // What was recorded is kept first; a device that stopped answering as
    // the tone ended fails the run then, unless the run waits for devices:
    // the next tone then waits for it.
    if (mor_file != nullptr) {
        if (wave_error code = capture_dump(frequency, player.time_is_over())) failed_as_the_tone_ended({true, code});
    }
    if (!wave_out) return player.cut_seconds;  // a key ended the tone while its device was away
    wave_out->reset();
    if (wave_error code = wave_out->failure()) failed_as_the_tone_ended({false, code});
    wave_out.reset();
    return player.cut_seconds;
}
