#include "engine/playing/smooth_playback.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/control/control.h"
#include "engine/capture/device_wait.h"
#include "engine/export/file_export.h"
#include "engine/playing/frame_stream.h"
#include "engine/playing/keys.h"
#include "engine/status/status_line.h"
#include "engine/clock/stop_time.h"
#include "engine/capture/stream_capture.h"
#include "engine/sound/wavetables.h"
#include "log/log.h"
#include "platform/key_source.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"
#include "schedule/entry_parts.h"

namespace {

// How much sound is kept queued. When something can change the sound at any
// moment (keys on a terminal, the control channel), 90 ms, so that a change
// is heard within 100 ms, its ramp included. A device that keeps a clock
// (ALSA's) takes it in two blocks of 45: the player renders the next block
// into a spare as soon as the clock says one has played, rather than
// waiting for the device to hand it back, so that the queue is topped up on
// time and each side wakes once a block; the longer blocks halve what the
// wake-ups cost against three blocks of 30. A device without one (WinMM)
// hands blocks back late, after they played: three blocks of 30, so that
// the queue never falls below 60 ms (PipeWire's PulseAudio server ran dry
// now and then with 50 ms or less). When nothing can change the sound (the
// night alone), a second and a half in four blocks, and the player wakes
// under three times a second: a PulseAudio sink that allows rewinds holds a
// stream with less queued back behind the clock (1 s queued: half a second
// late on a 3-s tone; 1.5 s: 0.3 s, as the default player's two seconds).
struct queue_depth {
    uint32_t block_frames;
    int blocks;
    int queue_ms;
    bool render_ahead;
};
constexpr int most_blocks = 4;
constexpr queue_depth clocked_interactive_depth{sample_rate * 45 / 1000, 2, 90, true};
constexpr queue_depth interactive_depth{sample_rate * 3 / 100, 3, 90, false};
constexpr queue_depth unattended_depth{sample_rate * 3 / 8, 4, 1500, false};
// The longest the player sleeps when nothing wakes it (more than a deep
// block lasts): a device that stops handing blocks back is noticed by
// looking.
constexpr int longest_sleep_ms = 500;
// The fall at Ctrl-C or q gets this long to be heard, beyond its own length.
constexpr int64_t fall_patience_ms = 250;

queue_depth depth_of_run() {
    if (!settings.control && !current_platform->keys.has_terminal()) return unattended_depth;
    return current_platform->audio.outputs_keep_clock() ? clocked_interactive_depth : interactive_depth;
}

stream_settings settings_of_run() {
    stream_settings stream;
    stream.ramp_frames = static_cast<int32_t>(int64_t{settings.fade_ms} * sample_rate / 1000);
    stream.fade_in_frames = int64_t{settings.fade_in_seconds} * sample_rate;
    stream.fade_out_frames = int64_t{settings.fade_out_seconds} * sample_rate;
    return stream;
}

// Where the calendar's seconds begin on the monotonic clock, which only
// whole seconds show: a second is seen to begin between two looks, and the
// next look is made in the middle of the span where the next one begins, so
// that the span halves each second, down to a few milliseconds.
class second_phase {
public:
    void look(int64_t second, int64_t now_ms) {
        const int64_t lo = std::max(next_after_ms_, lo_ms_ + 1000);
        const int64_t up = std::min(now_ms, up_ms_ + 1000);
        if (second_ >= 0 && second == second_ + 1 && lo <= up) {
            lo_ms_ = lo;
            up_ms_ = up;
            known_ = true;
        } else if (second != second_) {
            // The first look, or a calendar that was set: it began within
            // the last second, and is taken to begin now until a change of
            // second is seen.
            lo_ms_ = now_ms - 999;
            up_ms_ = now_ms;
            known_ = false;
        }
        if (second != second_) next_after_ms_ = now_ms;
        // The next second has not begun by now.
        next_after_ms_ = std::max(next_after_ms_, now_ms);
        second_ = second;
    }
    int64_t began_ms() const { return known_ ? (lo_ms_ + up_ms_) / 2 : up_ms_; }
    // When to look for the next second: in the middle of its span, or just
    // after its span once the middle has passed.
    int64_t next_look_ms(int64_t now_ms) const {
        const int64_t middle = (lo_ms_ + up_ms_) / 2 + 1000;
        return now_ms < middle ? middle : up_ms_ + 1001;
    }

private:
    int64_t second_ = -1;
    int64_t lo_ms_ = 0;
    int64_t up_ms_ = 0;
    int64_t next_after_ms_ = 0;
    bool known_ = false;
};

struct queued_block {
    std::vector<int16_t> samples;
    uint32_t frames = 0;
    int64_t device_end = 0;  // the device's frames written, this block's included
    pcm_block pcm() { return {samples.data(), frames}; }
};

class smooth_player {
public:
    explicit smooth_player(frame_stream& stream)
        : stream_(stream), depth_(depth_of_run()), buffers_(depth_.blocks + (depth_.render_ahead ? 1 : 0)) {
        for (queued_block& block : blocks_) block.samples.resize(2 * size_t{depth_.block_frames});
    }

    // One wait on everything that can need the player; each wake-up then
    // looks at all of it.
    void play() {
        last_step_ms_ = current_platform->clock.monotonic_ms();
        while (!(stream_.over() && queued_ == 0)) {
            // What woke the player acts before the blocks it hands back are
            // filled again, so that they carry the change.
            check_interrupt();
            follow_stop_time();
            // --until: the sound falls to silence, and the run ends as at
            // the end of its schedule.
            if (stop_time_has_come()) stop_for_stop_time();
            act_on_key(run_phase::playing);
            feed();
            flush_records();
            ride_out_failures();
            if (mor_file != nullptr) keep_input();
            show_status();
            if (stream_.over() && queued_ == 0) break;
            wait_for_work(sleep_limit_ms());
        }
        if (fell_for_stop_frame_) stop_time_reached(stop_second_);
        if (mor_file != nullptr) stream_capture_finish(false);
    }

    // --until: the sound falls to silence, the playing tone cut there. The
    // record replays what was heard: what the stream gave the tone and the
    // fall, said now, as a device that fails meanwhile ends the run.
    void stop_for_stop_time() {
        if (stream_.stopping() || stream_.over()) return;
        const stream_tone& tone = stream_.tone();
        const int64_t sounded = (tone.frames_done + stream_.frames_to_silence()) / sample_rate;
        if (tone.playing && sounded < entry_sound_seconds(tone.duration)) log_tone_cut(sounded);
        stream_.stop();
    }

    // Ctrl-C and q: the sound falls to silence and is heard doing so, then
    // the run ends as it always does.
    void fall_silent() {
        if (!wave_out || stream_.over()) return;
        stream_.stop();
        quitting_ = true;
        clock_source& clock = current_platform->clock;
        // The fall is heard behind what is queued.
        const int64_t until = clock.monotonic_ms() + settings.fade_ms + depth_.queue_ms + fall_patience_ms;
        while (!(stream_.over() && idle()) && clock.monotonic_ms() < until && wave_out->failure() == 0) {
            feed();
            if (stream_.over() && queued_ == 0) break;
            const wait_handle device = wave_out->ready_handle();
            clock.wait({&device, 1}, static_cast<int>(std::min<int64_t>(until - clock.monotonic_ms(), longest_sleep_ms)));
        }
        if (mor_file != nullptr) stream_capture_finish(true);
    }

private:
    // Sleeps until the device hands a block back (or, rendering ahead, its
    // clock says one has played), a key or a client comes, a signal
    // arrives, or at most ms.
    void wait_for_work(int ms) {
        handles_.clear();
        handles_.push_back(current_platform->keys.ready_handle());
        const int control_limit = control_wait_handles(handles_);
        if (control_limit >= 0) ms = std::min(ms, control_limit);
        if (const int next_ms = ms_until_next_played(); next_ms >= 0) {
            // Rendering ahead, the player wakes by the device's clock; it
            // waits for a block back only when every buffer is out.
            ms = std::min(ms, next_ms);
        } else if (wave_out) {
            const wait_handle ready = wave_out->ready_handle();
            // A device that cannot tell when a block is done is looked at
            // as each block falls due.
            if (ready.empty()) ms = std::min(ms, block_ms());
            handles_.push_back(ready);
        }
        std::erase_if(handles_, [](const wait_handle& handle) { return handle.empty(); });
        current_platform->clock.wait(handles_, ms);
    }

    int block_ms() const { return static_cast<int>(int64_t{depth_.block_frames} * 1000 / sample_rate); }

    // Milliseconds since the last step, for the status line's pace.
    int step_ms() {
        const int64_t now = current_platform->clock.monotonic_ms();
        const int64_t elapsed = std::clamp<int64_t>(now - last_step_ms_, 0, 60000);
        last_step_ms_ = now;
        return static_cast<int>(elapsed);
    }

    // Hands back the blocks the device has played and fills them again.
    void feed() {
        bool collected = false;
        while (queued_ > 0 && wave_out && wave_out->is_done(blocks_[static_cast<size_t>(oldest_)].pcm())) {
            if (wave_out->failure() != 0) return;
            --queued_;
            oldest_ = (oldest_ + 1) % buffers_;
            collected = true;
            oldest_began_ms_ = current_platform->clock.monotonic_ms();
            // The device plays again after a wait: it is back.
            device_wait::heard();
            // It played on after running dry: that was an underrun, not a
            // device lost (which says so through its failure instead).
            if (ran_dry_at_ >= 0) tell_ran_out();
        }
        // Fed later than the queue lasts, the device ran dry for want of
        // sound; fed in time, it stopped taking it (a server held up). The
        // device may tell its underrun a step or two after the late one.
        const int64_t now = current_platform->clock.monotonic_ms();
        if (last_feed_ms_ >= 0 && now - last_feed_ms_ > queued_ms()) late_feed_ms_ = now;
        last_feed_ms_ = now;
        const bool fed_late = late_feed_ms_ >= 0 && now - late_feed_ms_ <= queued_ms() + 200;
        bool ran_dry = collected && idle() && !stream_.over();
        if (wave_out) {
            const uint64_t underruns = wave_out->underruns();
            if (underruns != underruns_seen_) ran_dry = true;
            underruns_seen_ = underruns;
        }
        if (ran_dry && ran_dry_at_ < 0) {
            ran_dry_at_ = tone_second();
            ran_dry_fed_late_ = fed_late;
        }
        while (queued_ < fill_limit() && !stream_.over()) {
            queued_block& block = blocks_[(oldest_ + queued_) % buffers_];
            const uint64_t first = stream_.position();
            block.frames = stream_.render(block.samples.data(), depth_.block_frames);
            note_fall_for_stop_frame();
            if (block.frames == 0) {
                // The last tone may end with the stream, past a block's end:
                // its capture ends there too, not when the input is cut off.
                // A run quit or interrupted leaves its tone out, as always.
                if (!quitting_) follow_tones();
                break;
            }
            if (!wave_out && !open_devices_for(first)) return;
            follow_tones();
            // A tone's line is in the files before its first block goes out.
            flush_records();
            if (wave_error code = wave_out->write(block.pcm())) {
                failed_ = {false, code};
                return;
            }
            device_written_ += block.frames;
            block.device_end = device_written_;
            ++queued_;
        }
    }

    // The device's clock, while it keeps one for this run's queue: -1 else.
    int64_t device_played() const {
        if (!depth_.render_ahead || !wave_out) return -1;
        return std::min(wave_out->played_frames(), device_written_);
    }

    // How many of the blocks out, oldest first, have played by the clock.
    int blocks_played(int64_t played) const {
        int count = 0;
        while (count < queued_ && queued_block_at(count).device_end <= played) ++count;
        return count;
    }

    const queued_block& queued_block_at(int i) const { return blocks_[static_cast<size_t>((oldest_ + i) % buffers_)]; }

    // How many blocks may be out: the depth, and one more for each that the
    // device's clock says has played before it is handed back.
    int fill_limit() const {
        const int64_t played = device_played();
        if (played < 0) return depth_.blocks;
        return std::min(buffers_, depth_.blocks + blocks_played(played));
    }

    // When the next block out will have played by the device's clock (a
    // millisecond after, so that it has); -1 when the player must wait for
    // a block back. With every buffer out, the oldest has played and comes
    // back as the device takes the newest, well before the next has played:
    // the player does not wake for it.
    int ms_until_next_played() const {
        const int64_t played = device_played();
        if (played < 0 || stream_.over()) return -1;
        const int next = blocks_played(played);
        if (next == queued_) return -1;
        return static_cast<int>((queued_block_at(next).device_end - played) * 1000 / sample_rate) + 1;
    }

    // Nothing left on the device.
    bool idle() const { return queued_ == 0; }

    int64_t tone_second() const { return stream_.tone().frames_done / sample_rate; }

    // Each underrun, once the device has played again after it.
    void tell_ran_out() {
        if (ran_dry_fed_late_) {
            log_err("%s: waveOut: the sound ran out %s into the tone: the machine was too busy to feed the sound "
                    "device in time\n",
                    program_name, clock_text(ran_dry_at_).c_str());
        } else {
            log_err("%s: waveOut: the sound ran out %s into the tone: the sound device or its server stopped "
                    "taking sound for a while\n",
                    program_name, clock_text(ran_dry_at_).c_str());
        }
        ran_dry_at_ = -1;
    }

    // --until: the fall ends at the stop second, which the stream is told
    // of as a frame of its own, so that it comes at its frame however deep
    // the queue. The device plays the oldest queued frame now; where the
    // calendar's seconds begin is learnt from the steps that see them change.
    void follow_stop_time() {
        const int64_t stop_second = stop_time_calendar_second();
        if (stop_second < 0) return;
        clock_source& clock = current_platform->clock;
        const int64_t second = clock.now_seconds();
        const int64_t now_ms = clock.monotonic_ms();
        second_phase_.look(second, now_ms);
        const int64_t into_second_ms = std::clamp<int64_t>(now_ms - second_phase_.began_ms(), 0, 999);
        const int64_t frames_to_stop =
            (stop_second - second) * sample_rate - into_second_ms * sample_rate / 1000;
        stream_.stop_at_frame(static_cast<int64_t>(playing_frame(now_ms)) + frames_to_stop);
        stop_second_ = stop_second;
    }

    // The frame the device plays now: by its clock where it keeps one; else
    // the oldest queued block began when the one before it was handed back.
    uint64_t playing_frame(int64_t now_ms) {
        if (const int64_t played = device_played(); played >= 0)
            return stream_.position() - static_cast<uint64_t>(device_written_ - played);
        uint64_t frame = stream_.position() - queued_frames();
        if (queued_ > 0 && oldest_began_ms_ >= 0) {
            const int64_t played = std::max<int64_t>(now_ms - oldest_began_ms_, 0) * sample_rate / 1000;
            frame += std::min<uint64_t>(static_cast<uint64_t>(played), blocks_[oldest_].frames);
        }
        return frame;
    }

    // The stream began the fall for the stop frame as it rendered: the tone
    // it cut is recorded as stop_for_stop_time records it.
    void note_fall_for_stop_frame() {
        stream_tone tone;
        if (!stream_.take_fall_for_stop_frame(tone)) return;
        fell_for_stop_frame_ = true;
        // The stop frame is known to within the clock's few milliseconds: a
        // tone a little short of a second has sounded that second.
        const int64_t sounded = (tone.frames_done + sample_rate / 100) / sample_rate;
        if (tone.playing && sounded < entry_sound_seconds(tone.duration)) log_tone_cut(sounded);
    }

    // How long the player may sleep: while a stop time is followed, it also
    // wakes to see the next calendar second begin.
    int sleep_limit_ms() {
        if (stop_time_calendar_second() < 0) return longest_sleep_ms;
        const int64_t now_ms = current_platform->clock.monotonic_ms();
        return static_cast<int>(std::clamp<int64_t>(second_phase_.next_look_ms(now_ms) - now_ms, 1, longest_sleep_ms));
    }

    int64_t queued_ms() const { return depth_.queue_ms; }

    // The devices open as the first block that sounds is ready.
    bool open_devices_for(uint64_t first_frame) {
        if (!opened_once_ && !settings.allow_sleep) current_platform->sleep.hold();
        flush_records();
        device_failure failure;
        const bool opened = open_output_device(failure, device_answer_limit_ms, depth_.queue_ms) &&
                            (mor_file == nullptr || open_input(failure, device_answer_limit_ms));
        if (!opened) {
            failed_ = failure;
            if (settings.wait_for_device == 0) device_failure_exit(failure);
            // The block is given back to the tone: it plays once the device
            // is there.
            stream_.give_back(stream_.position() - first_frame);
            return false;
        }
        opened_once_ = true;
        device_written_ = 0;
        if (mor_file != nullptr) stream_capture_line_up(first_frame);
        return true;
    }

    bool open_input(device_failure& failure, int answer_limit_ms) {
        if (wave_error code = stream_capture_open(answer_limit_ms)) {
            failure = {true, code};
            return false;
        }
        return true;
    }

    // The capture follows the tones as they begin and end.
    void follow_tones() {
        if (mor_file == nullptr) return;
        for (const frame_stream::ended_tone& ended : stream_.take_ended_tones()) {
            if (ended.first_frame != captured_first_) stream_capture_tone_begins(ended.frequency, ended.first_frame);
            captured_first_ = ended.first_frame;
            stream_capture_tone_ends(ended.last_frame);
        }
        const stream_tone& tone = stream_.tone();
        if (tone.playing && tone.first_frame != captured_first_) {
            stream_capture_tone_begins(tone.frequency, tone.first_frame);
            captured_first_ = tone.first_frame;
        }
    }

    void keep_input() {
        if (wave_error code = stream_capture_failure()) {
            if (settings.wait_for_device == 0) {
                stream_capture_lose_input();
                device_failure_exit({true, code});
            }
            device_wait::begin({true, code});
            stream_capture_lose_input();
        }
        if (!stream_capture_open_now() && device_wait::active() && device_wait::failure().input &&
            device_wait::try_due()) {
            device_failure failure;
            if (open_input(failure, device_wait::try_answer_limit_ms())) {
                stream_capture_line_up(stream_.position() - queued_frames());
                device_wait::reopened();
                device_wait::heard();
            } else {
                device_wait::begin(failure);
            }
        }
        stream_capture_step();
    }

    uint64_t queued_frames() {
        uint64_t frames = 0;
        for (int i = 0; i < queued_; ++i) frames += queued_block_at(i).frames;
        return frames;
    }

    // Keys as they come: a pause holds the tone while silence plays, and
    // the next key only resumes.
    void act_on_key(run_phase phase) {
        const stream_tone& tone = stream_.tone();
        const int key = poll_keys_and_control(paused_ ? run_phase::paused : phase,
                                              tone.frames_done / sample_rate - tone.seconds_before);
        if (key == key_none) return;
        if (key == key_quit) on_sigint(SIGINT);  // a paused run too
        if (paused_) {
            paused_ = false;
            stream_.resume();
            tell_control_clients(run_event::resume);
            return;
        }
        if (key == 'p') {
            announce_pause();
            paused_ = true;
            stream_.pause();
            return;
        }
        int64_t unused_start_second = 0;
        if (dispatch_key(key, stream_.tone().frequency, unused_start_second) == key_effect::tone_ends)
            stream_.end_tone();
    }

    void ride_out_failures() {
        device_failure failure = failed_;
        failed_ = {};
        if (failure.code == 0 && wave_out) {
            if (wave_error code = wave_out->failure()) failure = {false, code};
        }
        if (failure.code == 0) return;
        if (failure.input) {
            if (settings.wait_for_device == 0) device_failure_exit(failure);
            device_wait::begin(failure);
            return;
        }
        if (settings.wait_for_device == 0) device_failure_exit(failure);
        wait_for_output(failure);
    }

    // The output is closed and tried again about once a second while the
    // keys act, until it opens, the stream ends, or the wait runs out. The
    // tone keeps the frames it had not played, and rises again.
    void wait_for_output(const device_failure& failure) {
        device_wait::begin(failure);
        stream_.give_back(queued_frames());
        queued_ = 0;
        // The device failed: whatever ran dry before is told as that.
        ran_dry_at_ = -1;
        underruns_seen_ = 0;
        if (wave_out) {
            wave_out->reset();
            wave_out.reset();
        }
        clock_source& clock = current_platform->clock;
        for (;;) {
            flush_records();
            clock.sleep_ms(poll_step_ms);
            check_interrupt();
            device_wait::end_run_if_over();
            if (stop_time_has_come()) return end_stream_without_device();
            act_on_key(run_phase::waiting_for_device);
            if (mor_file != nullptr) keep_input();
            status_line_waiting(poll_step_ms, stream_.tone().frames_done / sample_rate, device_wait::waited_seconds(),
                                settings.wait_for_device);
            if (!device_wait::try_due()) continue;
            device_failure again;
            if (open_output_device(again, device_wait::try_answer_limit_ms(), depth_.queue_ms)) {
                device_written_ = 0;
                device_wait::reopened();
                stream_.rise();
                return;
            }
            check_interrupt();
            device_wait::begin(again);
        }
    }

    // --until came while the output was away: the fall is rendered to
    // nothing, and the stream is over. Bounded, as a fall lasts a ramp.
    void end_stream_without_device() {
        stop_for_stop_time();
        for (int block = 0; block < 10000 && !stream_.over(); ++block)
            if (stream_.render(blocks_[0].samples.data(), depth_.block_frames) == 0) break;
    }

    void show_status() {
        const stream_tone& tone = stream_.tone();
        status_line_step(step_ms(), tone.frames_done / sample_rate - tone.seconds_before, paused_);
    }

    static constexpr int poll_step_ms = 50;

    frame_stream& stream_;
    const queue_depth depth_;
    const int buffers_;  // blocks out at most: the depth, and a spare when rendering ahead
    int64_t device_written_ = 0;  // frames written to the device since it opened
    std::array<queued_block, most_blocks> blocks_{};
    std::vector<wait_handle> handles_;
    // The tone's second where the device ran dry, until it is told; -1: none.
    int64_t ran_dry_at_ = -1;
    bool ran_dry_fed_late_ = false;
    int64_t last_feed_ms_ = -1;
    int64_t late_feed_ms_ = -1;  // the last feed that came late
    uint64_t underruns_seen_ = 0;
    int oldest_ = 0;
    int queued_ = 0;
    int64_t last_step_ms_ = 0;
    bool paused_ = false;
    bool opened_once_ = false;
    bool quitting_ = false;
    uint64_t captured_first_ = UINT64_MAX;
    device_failure failed_{};
    second_phase second_phase_;
    bool fell_for_stop_frame_ = false;
    int64_t stop_second_ = -1;
    int64_t oldest_began_ms_ = -1;  // when the oldest queued block began to play
};

smooth_player* playing = nullptr;

const interrupt_step fall_at_interrupt{[] {
    if (playing != nullptr) playing->fall_silent();
}};
const reset_step playing_reset{[] { playing = nullptr; }};

}  // namespace

void play_schedule_smoothly() {
    build_wavetables();
    frame_stream stream(settings_of_run());
    smooth_player player(stream);
    playing = &player;
    player.play();
    playing = nullptr;
    if (wave_out) {
        if (wave_out->failure() == 0) wave_out->drain();
        wave_out->reset();
        wave_out.reset();
    }
}

void export_schedule_smoothly() {
    build_wavetables();
    frame_stream stream(settings_of_run());
    std::unique_ptr<int16_t[]> buffer(new int16_t[2 * size_t{sample_rate}]);
    for (;;) {
        check_interrupt();
        const uint32_t frames = stream.render(buffer.get(), sample_rate);
        if (frames == 0) break;
        // A tone's line reaches the files before its sound does.
        flush_records();
        export_frames(buffer.get(), frames);
    }
}
