#include "engine/playback.h"

#include <cstdint>

#include "cli/exit.h"
#include "cli/run.h"
#include "cli/settings.h"
#include "engine/capture.h"
#include "engine/file_export.h"
#include "engine/keys.h"
#include "engine/render.h"
#include "engine/status_line.h"
#include "engine/wavetables.h"
#include "log/log.h"

std::unique_ptr<wave_output> wave_out;

namespace {

constexpr int poll_step_ms = 50;

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

// One call of play_tone from the first queued second to the tear-down.
struct tone_player {
    double frequency;
    int seconds;
    render_state state;
    int64_t start_second;

    void render_and_queue(const pcm_block& block) {
        render_buffer(state, block.samples);
        if (wave_error code = wave_out->write(block)) wave_out_failure(code);
    }

    bool time_is_over() const {
        int64_t now = current_platform->clock.now_seconds();
        // A clock set back ends the tone too.
        return now < start_second || now > start_second + seconds;
    }

    // Sleeps, acts on a key, tests the clock. False when the tone ends.
    bool poll_step() {
        flush_records();
        current_platform->clock.sleep_ms(poll_step_ms);
        check_interrupt();
        if (dispatch_key(poll_key(), frequency, start_second) == key_effect::tone_ends) return false;
        if (time_is_over()) return false;
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

    void play() {
        const pcm_block a{play_buffer_a, sample_rate};
        const pcm_block b{play_buffer_b, sample_rate};
        // Both seconds go out back to back first, so the device always holds
        // one playing and one queued.
        render_and_queue(a);
        render_and_queue(b);
        sync_records();
        while (wait_until_done(a)) {
            render_and_queue(a);
            if (!wait_until_done(b)) break;
            render_and_queue(b);
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
    if (wave_error code = current_platform->audio.open_output(wave_out)) {
        wave_out.reset();
        wave_out_failure(code);
    }
    if (mor_file != nullptr) capture_start(seconds);

    tone_player player{frequency, seconds, render_start(frequency, pulse), 0};
    player.start_second = current_platform->clock.now_seconds();
    player.play();

    if (wave_in) capture_dump(frequency);
    wave_out->reset();
    // A device that stopped answering as the tone ended fails the run too.
    if (wave_error code = wave_out->failure()) wave_out_failure(code);
    wave_out.reset();
}
