#include "engine/smooth_playback.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/control.h"
#include "engine/device_wait.h"
#include "engine/file_export.h"
#include "engine/frame_stream.h"
#include "engine/keys.h"
#include "engine/status_line.h"
#include "engine/stop_time.h"
#include "engine/stream_capture.h"
#include "engine/wavetables.h"
#include "log/log.h"
#include "platform/key_source.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"

namespace {

// Blocks of 10 ms, six of them queued: a key polled every 50 ms, as in
// every run, changes the sound within 110 ms, 85 on average. PipeWire's
// PulseAudio server ran dry now and then with 50 ms or less.
constexpr uint32_t block_frames = sample_rate / 100;
constexpr int block_count = 6;
constexpr int queue_ms = 60;
// A run that no key or client can reach keeps two seconds queued, in five
// blocks of half a second. A PulseAudio null sink that allows rewinds ran a
// stream about two seconds less what it had queued behind the clock (60 ms
// queued: 1.8 s late on a 3-s tone; 1 s: 0.5 s; 2 s: on time).
constexpr uint32_t deep_block_frames = sample_rate / 2;
constexpr int deep_block_count = 5;
constexpr int feed_step_ms = 10;
constexpr int steps_per_key_poll = 5;
// The fall at Ctrl-C or q gets this long to be heard, beyond its own length.
constexpr int64_t fall_patience_ms = 250;

stream_settings settings_of_run() {
    stream_settings stream;
    stream.ramp_frames = static_cast<int32_t>(int64_t{settings.fade_ms} * sample_rate / 1000);
    stream.fade_in_frames = int64_t{settings.fade_in_seconds} * sample_rate;
    stream.fade_out_frames = int64_t{settings.fade_out_seconds} * sample_rate;
    return stream;
}

struct queued_block {
    std::vector<int16_t> samples;
    uint32_t frames = 0;
    pcm_block pcm() { return {samples.data(), frames}; }
};

// No key and no client can change the sound, and no stop time cuts it
// short: it may be queued deep.
bool unattended() {
    return !settings.control && settings.stop_at < 0 && !current_platform->keys.takes_keys();
}

class smooth_player {
public:
    explicit smooth_player(frame_stream& stream)
        : stream_(stream),
          block_frames_(unattended() ? deep_block_frames : block_frames),
          block_count_(unattended() ? deep_block_count : block_count),
          blocks_(static_cast<size_t>(block_count_)) {
        for (queued_block& block : blocks_) block.samples.resize(2 * size_t{block_frames_});
    }

    void play() {
        while (!(stream_.over() && idle())) {
            feed();
            flush_records();
            current_platform->clock.sleep_ms(feed_step_ms);
            check_interrupt();
            // --until: the sound falls to silence, and the run ends as at
            // the end of its schedule.
            if (stop_time_has_come()) stream_.stop();
            if (++steps_ % steps_per_key_poll == 0) act_on_key(run_phase::playing);
            ride_out_failures();
            if (mor_file != nullptr) keep_input();
            show_status();
        }
        if (mor_file != nullptr) stream_capture_finish(false);
    }

    // Ctrl-C and q: the sound falls to silence and is heard doing so, then
    // the run ends as it always does.
    void fall_silent() {
        if (!wave_out || stream_.over()) return;
        stream_.stop();
        quitting_ = true;
        clock_source& clock = current_platform->clock;
        // The fall is heard behind what is queued.
        const int64_t until = clock.monotonic_ms() + settings.fade_ms + queued_ms() + fall_patience_ms;
        while (!(stream_.over() && idle()) && clock.monotonic_ms() < until && wave_out->failure() == 0) {
            feed();
            clock.sleep_ms(feed_step_ms / 2);
        }
        if (mor_file != nullptr) stream_capture_finish(true);
    }

private:
    // Hands back the blocks the device has played and fills them again.
    void feed() {
        bool collected = false;
        while (queued_ > 0 && wave_out && wave_out->is_done(blocks_[static_cast<size_t>(oldest_)].pcm())) {
            if (wave_out->failure() != 0) return;
            --queued_;
            oldest_ = (oldest_ + 1) % block_count_;
            collected = true;
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
        while (queued_ < block_count_ && !stream_.over()) {
            queued_block& block = blocks_[static_cast<size_t>((oldest_ + queued_) % block_count_)];
            const uint64_t first = stream_.position();
            block.frames = stream_.render(block.samples.data(), block_frames_);
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
            ++queued_;
        }
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

    int64_t queued_ms() const { return int64_t{block_count_} * block_frames_ * 1000 / sample_rate; }

    // The devices open as the first block that sounds is ready.
    bool open_devices_for(uint64_t first_frame) {
        if (!opened_once_ && !settings.allow_sleep) current_platform->sleep.hold();
        flush_records();
        device_failure failure;
        const bool opened = open_output_device(failure, device_answer_limit_ms, queue_ms) &&
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
        for (int i = 0; i < queued_; ++i) frames += blocks_[static_cast<size_t>((oldest_ + i) % block_count_)].frames;
        return frames;
    }

    // Keys every 50 ms: a pause holds the tone while silence plays, and
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
            if (open_output_device(again, device_wait::try_answer_limit_ms(), queue_ms)) {
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
        stream_.stop();
        for (int block = 0; block < 10000 && !stream_.over(); ++block)
            if (stream_.render(blocks_[0].samples.data(), block_frames_) == 0) break;
    }

    void show_status() {
        const stream_tone& tone = stream_.tone();
        status_line_step(feed_step_ms, tone.frames_done / sample_rate - tone.seconds_before, paused_);
    }

    static constexpr int poll_step_ms = 50;

    frame_stream& stream_;
    const uint32_t block_frames_;
    const int block_count_;
    std::vector<queued_block> blocks_;
    // The tone's second where the device ran dry, until it is told; -1: none.
    int64_t ran_dry_at_ = -1;
    bool ran_dry_fed_late_ = false;
    int64_t last_feed_ms_ = -1;
    int64_t late_feed_ms_ = -1;  // the last feed that came late
    uint64_t underruns_seen_ = 0;
    int oldest_ = 0;
    int queued_ = 0;
    int64_t steps_ = 0;
    bool paused_ = false;
    bool opened_once_ = false;
    bool quitting_ = false;
    uint64_t captured_first_ = UINT64_MAX;
    device_failure failed_{};
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
