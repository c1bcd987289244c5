#include "platform/linux/alsa/alsa_output.h"

#include "platform/linux/alsa/alsa_pcm.h"
#include "platform/linux/alsa/pcm_worker.h"

#include <alsa/asoundlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace {

constexpr unsigned output_rate = 44100;
constexpr unsigned output_channels = 2;
// The caller keeps two one-second blocks queued. A ring that holds both
// takes each block whole as it comes, so the feeder wakes about twice a
// second (a block arrives, a block has played) instead of every few
// milliseconds, and the sound server asks for data once a period.
constexpr alsa_pcm_shape output_shape{output_channels, output_rate, 2500000, 500000, output_rate / 4};
// A caller that keeps less queued (--smooth): for the short queue of quick
// keys a ring of twice the queue, with periods of half of it, so that the
// server asks for sound about twenty times a second, not fifty; for the deep
// queue of a night alone a quarter more than the queue, in periods of a
// quarter. The short one starts once 20 ms are in.
alsa_pcm_shape shape_for_queue(int queue_ms) {
    if (queue_ms >= long_queue_ms) return output_shape;
    const unsigned queue_us = static_cast<unsigned>(std::max(queue_ms, 20)) * 1000;
    const bool deep = queue_ms >= 500;
    return {output_channels, output_rate, deep ? queue_us + queue_us / 4 : 2 * queue_us,
            deep ? queue_us / 4 : queue_us / 2, deep ? output_rate * queue_us / 4000000 : output_rate / 50};
}
// The caller keeps two blocks queued; a few spare slots cost nothing.
constexpr std::size_t queue_slots = 8;
// A block that has not played this long after it was due means the device
// stopped answering; for a stream that has just started, the limit runs
// from its start and is longer (device_start_deadline).
constexpr auto stall_limit = device_stall_deadline;

using pcm_worker_time::now_ns;

struct queued_block {
    const int16_t* samples = nullptr;
    uint32_t frames = 0;
    uint32_t taken = 0;     // frames already in the ring; thread only
    uint64_t end = 0;       // stream position after its last frame; thread only
    std::atomic<bool> done{true};
};

// The thread's side of the device. The caller is the only producer (write)
// and the thread the only consumer, so the queue needs no lock: the caller
// fills the slot at head, the thread moves it into the ring (written) and
// hands it back once it has played (tail).
class output_worker final : public pcm_worker {
public:
    output_worker() : pcm_worker(alsa_direction::playback), done_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~output_worker() override {
        if (done_fd >= 0) close(done_fd);
    }
    output_worker(const output_worker&) = delete;
    output_worker& operator=(const output_worker&) = delete;
    // Counts blocks handed back (and failures), for the caller's one wait.
    const int done_fd;

    std::array<queued_block, queue_slots> slots;
    std::atomic<uint64_t> head{0};
    std::atomic<uint64_t> tail{0};
    std::atomic<wave_error> failure{0};
    // When the thread last moved a frame or handed a block back.
    std::atomic<int64_t> progress_ns{0};
    // When the stream last started: at the first block, and again after an
    // underrun (a pause) or a reset.
    std::atomic<int64_t> started_ns{0};
    std::atomic<uint64_t> underruns{0};
    // The device's clock as last read: the frames played by then, at most
    // as many as the ring then held, and when; 0 while it cannot be trusted.
    std::atomic<int64_t> clock_ns{0};
    std::atomic<uint64_t> clock_played{0};
    std::atomic<uint64_t> clock_cap{0};

    void drain_on_thread() {
        if (pcm == nullptr || snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING) return;
        snd_pcm_nonblock(pcm, 0);
        snd_pcm_drain(pcm);
        snd_pcm_nonblock(pcm, 1);
    }

    // The device is made ready again only by the next write: a tone's
    // closing reset then costs no new stream on the sound server.
    void reset_on_thread() {
        if (pcm != nullptr) snd_pcm_drop(pcm);
        hand_back_all();
        position = played_floor = 0;
        ran_dry_untold = false;
        next_due_ns = 0;
    }

private:
    void opened() override {
        snd_pcm_uframes_t ring = 0;
        snd_pcm_uframes_t period = 0;
        // The classic ring's blocks go whole, as they always did.
        if (snd_pcm_get_params(pcm, &ring, &period) == 0 && period > 0 && period < output_rate / 10) {
            write_frames = period;
            // A caller with a short queue renders by the clock, and its
            // next block, which wakes the thread anyway, comes first.
            hand_back_slack_ms = 4;
        }
    }

    wait_plan service() override {
        if (failure.load() != 0) {
            // Keep handing back whatever the caller still queues, so it never
            // waits on a block that will not play.
            hand_back_all();
            return {};
        }
        const bool wants_room = write_queued();
        if (failure.load() != 0) return {};
        if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED && position > played_floor) snd_pcm_start(pcm);
        return {wants_room, hand_back_played()};
    }

    // Moves every queued frame that fits into the ring. True when some did
    // not fit, so the thread waits for the device to make room.
    bool write_queued() {
        if (written != head.load(std::memory_order_acquire) && snd_pcm_state(pcm) == SND_PCM_STATE_SETUP) {
            // After a reset; a lost device fails here.
            if (const int error = snd_pcm_prepare(pcm); error < 0 && !recover(error)) return false;
        }
        while (written != head.load(std::memory_order_acquire)) {
            queued_block& slot = slots[written % queue_slots];
            // A period at a time: a PulseAudio null sink that allows rewinds
            // held a stream back by seconds when each write brought it half
            // a second or more, and not when the same sound came in periods.
            const snd_pcm_uframes_t piece = std::min<snd_pcm_uframes_t>(slot.frames - slot.taken, write_frames);
            const snd_pcm_sframes_t count =
                snd_pcm_writei(pcm, slot.samples + std::size_t{slot.taken} * output_channels, piece);
            if (count > 0) {
                // The first frames of a stream: after the open, a reset or
                // an underrun.
                if (position == played_floor) {
                    // Frames after a ring that ran dry while it played: a
                    // gap was heard, as with an underrun the device tells.
                    if (ran_dry_untold) underruns.fetch_add(1);
                    ran_dry_untold = false;
                    started_ns.store(now_ns());
                    delay_has_fallen = false;
                    last_played_ns = 0;
                }
                slot.taken += static_cast<uint32_t>(count);
                position += static_cast<uint64_t>(count);
                progress_ns.store(now_ns());
                if (slot.taken >= slot.frames) {
                    slot.end = position;
                    ++written;
                }
            } else if (count == 0 || count == -EAGAIN) {
                return true;
            } else if (!recover(static_cast<int>(count))) {
                return false;
            }
        }
        return false;
    }

    // Hands back the blocks whose last frame has played; returns how long to
    // sleep until the next one is due (-1: nothing in the ring).
    int hand_back_played() {
        uint64_t index = tail.load(std::memory_order_relaxed);
        if (index == written) return ring_empty();
        // Woken by a new block before the oldest is due: the device is not
        // asked again, which costs the server's plugin as much as a write.
        if (const int64_t now = now_ns(); next_due_ns != 0 && now < next_due_ns)
            return static_cast<int>((next_due_ns - now) / 1'000'000) + hand_back_slack_ms;
        snd_pcm_sframes_t room = 0;
        snd_pcm_sframes_t delay = 0;
        uint64_t played = position;
        // Asked together with the room, which brings the device's position
        // up to date first: PipeWire's plugin leaves the delay where it was
        // otherwise. Without a delay (a device that keeps none) the ring has
        // played out; so it has after an underrun, where the pulse plugin
        // still reports the delay it had last.
        const int asked = snd_pcm_avail_delay(pcm, &room, &delay);
        if (device_lost(asked)) {
            // The server went away: its blocks will never play, and the
            // caller hears of the loss rather than of a queue run dry.
            failure.store(alsa_failure(alsa_direction::playback, alsa_step::play, asked));
            hand_back_all();
            return -1;
        }
        const bool ran_dry = asked == -EPIPE || snd_pcm_state(pcm) == SND_PCM_STATE_XRUN;
        const bool delay_moves = asked == 0 && !ran_dry && delay > 0 && !delay_stands_still(delay);
        // A stream that shows no delay while it runs, when by the last delay
        // known and the rate all it was given has played, has run dry
        // without the plugin saying so (the process was stopped, say).
        // PipeWire's PulseAudio server runs the stream's read index on through
        // the gap, and what comes next lands behind it, unheard, until the
        // writes have caught up by as long as the gap lasted: the stream
        // starts afresh instead, with the next write. A PulseAudio sink that
        // allows rewinds shows no delay too as it holds a starting stream
        // back, but with no room either: it still holds the sound.
        if (asked == 0 && !ran_dry && delay == 0 && room >= snd_pcm_sframes_t{output_rate / 100} &&
            position > played_floor && last_played_ns != 0 && played_by_rate() >= position &&
            snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
            snd_pcm_drop(pcm);
            last_delay = -1;
            played_floor = position;
            ran_dry_untold = true;
        }
        if (delay_moves) {
            played = static_cast<uint64_t>(delay) < position ? position - static_cast<uint64_t>(delay) : 0;
            last_played = played;
            last_played_ns = now_ns();
        } else if (ran_dry && last_played_ns != 0) {
            // PipeWire's plugin calls it an underrun as soon as its ring
            // holds less than the server asks for, the stream's last frames
            // too, while the server still holds what it took: those frames
            // play out at the rate, from the last delay known, and a reset
            // before then would cut the end of the sound. Only the newest
            // block waits for that; the others are back at once, so that a
            // feeder that came late refills without waiting.
            played = std::min(position, played_by_rate());
            if (written - index >= 2) played = std::max(played, slots[(written - 2) % queue_slots].end);
        }
        if (played < played_floor) played = played_floor;
        // The caller renders ahead by the clock only once the stream plays.
        if (delay_moves && delay_has_fallen) publish_clock(played);
        else clock_ns.store(0);
        bool handed_back = false;
        while (index != written && slots[index % queue_slots].end <= played) {
            slots[index % queue_slots].done.store(true, std::memory_order_release);
            tail.store(++index, std::memory_order_release);
            progress_ns.store(now_ns());
            handed_back = true;
        }
        if (handed_back) tell_caller();
        if (index == written) return ring_empty();
        const uint64_t frames_left = slots[index % queue_slots].end - played;
        next_due_ns = now_ns() + static_cast<int64_t>(frames_left * 1'000'000'000 / output_rate);
        return static_cast<int>(frames_left * 1000 / output_rate) + hand_back_slack_ms;
    }

    // Played by now, from the last delay known at the rate.
    uint64_t played_by_rate() const {
        const auto since = static_cast<uint64_t>(std::max<int64_t>(0, now_ns() - last_played_ns));
        return last_played + since * output_rate / 1'000'000'000;
    }

    int ring_empty() {
        next_due_ns = 0;
        clock_ns.store(0);
        return -1;
    }

    // Written as a sequence lock: the caller reads the time on both sides.
    void publish_clock(uint64_t played) {
        clock_ns.store(0);
        clock_played.store(played);
        clock_cap.store(position);
        clock_ns.store(last_played_ns);
    }

    static bool device_lost(int error) {
        return error == -EIO || error == -EBADFD || error == -ENODEV || error == -ENOTCONN || error == -ECONNRESET;
    }

    // Once a stream has run dry, the pulse plugin may go on reporting its
    // last few milliseconds of delay for ever: a small delay that stands
    // still for longer than a poll step has played out. A large one that
    // stands still is a device that stopped, which the stall tells. Before
    // the delay has ever fallen, the server has not begun to play the
    // stream (a sink waking up): nothing of it has played out yet.
    bool delay_stands_still(snd_pcm_sframes_t delay) {
        constexpr snd_pcm_sframes_t small_delay = output_rate / 10;
        constexpr int64_t still_for_ns = 100'000'000;
        const int64_t now = now_ns();
        if (delay != last_delay) {
            if (last_delay >= 0 && delay < last_delay) delay_has_fallen = true;
            last_delay = delay;
            last_delay_since_ns = now;
            return false;
        }
        return delay_has_fallen && delay <= small_delay && now - last_delay_since_ns >= still_for_ns;
    }

    // Underruns (the caller paused) and suspends are part of normal life:
    // the ring has played out, and the next frame starts a new stream.
    bool recover(int error) {
        if (error == -EPIPE || error == -ESTRPIPE || error == -EINTR) {
            const int recovered = snd_pcm_recover(pcm, error, 1);
            if (recovered == 0) {
                // Frames came after the ring ran dry while it played: a gap
                // was heard (PipeWire's plugin fills it with silence). The
                // end of a stream runs dry too, but nothing comes after it.
                if (error == -EPIPE && position > played_floor) underruns.fetch_add(1);
                played_floor = position;
                clock_ns.store(0);
                return true;
            }
            error = recovered;
        }
        failure.store(alsa_failure(alsa_direction::playback, alsa_step::play, error));
        hand_back_all();
        return false;
    }

    void hand_back_all() {
        const uint64_t end = head.load(std::memory_order_acquire);
        for (uint64_t index = tail.load(std::memory_order_relaxed); index != end; ++index) {
            slots[index % queue_slots].done.store(true, std::memory_order_release);
        }
        written = end;
        tail.store(end, std::memory_order_release);
        played_floor = position;
        clock_ns.store(0);
        tell_caller();
    }

    void tell_caller() const {
        if (done_fd < 0) return;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t sent = ::write(done_fd, &one, sizeof one);
    }

    snd_pcm_uframes_t write_frames = SIZE_MAX;  // a short period, or no limit
    uint64_t written = 0;       // next slot to move into the ring
    uint64_t position = 0;      // frames moved into the ring since the last reset
    uint64_t played_floor = 0;  // frames known to have played out
    snd_pcm_sframes_t last_delay = -1;  // and since when the device has said so
    int64_t last_delay_since_ns = 0;
    bool delay_has_fallen = false;  // since the stream's first frames
    bool ran_dry_untold = false;    // the stream ran dry, and no underrun said so
    uint64_t last_played = 0;       // played by the last delay trusted, and when
    int64_t last_played_ns = 0;     // 0: none since the stream started
    int64_t next_due_ns = 0;        // when the oldest block should have played; 0: ask
    int hand_back_slack_ms = 2;     // how long after that the thread looks
};

class alsa_output final : public wave_output {
public:
    explicit alsa_output(std::shared_ptr<output_worker> worker) : worker_(std::move(worker)) {}

    // Closing drops whatever is still queued.
    ~alsa_output() override { worker_->finish(); }

    alsa_output(const alsa_output&) = delete;
    alsa_output& operator=(const alsa_output&) = delete;

    wave_error write(const pcm_block& block) override {
        if (wave_error failure = this->failure()) return failure;
        if (block.samples == nullptr || block.frames == 0) return 0;
        output_worker& w = *worker_;
        const uint64_t head = w.head.load(std::memory_order_relaxed);
        const uint64_t tail = w.tail.load(std::memory_order_acquire);
        if (head - tail >= queue_slots) return -ENOBUFS;
        // The stall clock starts with the first block after an idle spell.
        if (head == tail) w.progress_ns.store(now_ns());
        queued_block& slot = w.slots[head % queue_slots];
        slot.samples = block.samples;
        slot.frames = block.frames;
        slot.taken = 0;
        slot.done.store(false, std::memory_order_relaxed);
        w.head.store(head + 1, std::memory_order_release);
        w.wake();
        return 0;
    }

    bool is_done(const pcm_block& block) override {
        output_worker& w = *worker_;
        if (failure() != 0) return true;
        for (const queued_block& slot : w.slots) {
            if (slot.samples == block.samples && !slot.done.load(std::memory_order_acquire)) return false;
        }
        return true;
    }

    void reset() override {
        if (w().failure.load() != 0 && worker_->given_up()) return;
        if (!worker_->call([worker = worker_.get()] { worker->reset_on_thread(); })) {
            give_up(alsa_step::stop);
        }
    }

    // What the server still holds plays out: PipeWire plays the part of a
    // quantum left at a stream's end only when the stream is drained.
    void drain() override {
        if (w().failure.load() != 0 || worker_->given_up()) return;
        if (!worker_->submit_and_await([worker = worker_.get()] { worker->drain_on_thread(); }, drain_limit)) {
            give_up(alsa_step::stop);
        }
    }

    wave_error failure() override {
        check_stall();
        return w().failure.load();
    }

    // The thread's count of blocks handed back (and failures).
    wait_handle ready_handle() override { return {w().done_fd, wait_handle::ready::counter}; }
    uint64_t underruns() override { return w().underruns.load(); }

    // The clock as the thread last read it, run on at the rate since, up to
    // what the ring then held.
    int64_t played_frames() override {
        output_worker& worker = w();
        const int64_t at = worker.clock_ns.load();
        const uint64_t played = worker.clock_played.load();
        const uint64_t cap = worker.clock_cap.load();
        if (at == 0 || worker.clock_ns.load() != at || worker.failure.load() != 0) return -1;
        const auto since = static_cast<uint64_t>(std::max<int64_t>(0, now_ns() - at));
        return static_cast<int64_t>(std::min(cap, played + since * output_rate / 1'000'000'000));
    }

private:
    output_worker& w() { return *worker_; }


    // Blocks queued and nothing moved for the whole limit: the device is
    // not answering, and any further call would hang with it. A sound
    // server's own buffer takes the first seconds and its clock makes blocks
    // seem played, so a sink that has not started shows only here.
    void check_stall() {
        output_worker& worker = w();
        const int64_t now = now_ns();
        // A caller that looked last long ago was held itself (the process
        // stopped, the machine asleep): the silence was its own, and the
        // device gets its start window again.
        if (last_look_ns_ != 0 && now - last_look_ns_ > held_ns) {
            worker.started_ns.store(now);
            worker.progress_ns.store(now);
        }
        last_look_ns_ = now;
        if (worker.failure.load() != 0 || worker.tail.load(std::memory_order_acquire) == worker.head.load()) return;
        const int64_t stalled = now - worker.progress_ns.load() - std::chrono::nanoseconds(stall_limit).count();
        const int64_t starting =
            now - worker.started_ns.load() - std::chrono::nanoseconds(device_start_deadline).count();
        if (stalled > 0 && starting > 0) give_up(alsa_step::play, stalled_since_start() ? -ETIME : -ETIMEDOUT);
    }

    void give_up(alsa_step step, int code = -ETIMEDOUT) {
        wave_error expected = 0;
        w().failure.compare_exchange_strong(expected, alsa_failure(alsa_direction::playback, step, code));
        worker_->give_up();
    }

    // The stream's start window, not the stall limit, held the give-up
    // back: what stopped may as well be a sink that never woke up.
    bool stalled_since_start() {
        return w().started_ns.load() + std::chrono::nanoseconds(device_start_deadline).count() >
               w().progress_ns.load() + std::chrono::nanoseconds(stall_limit).count();
    }

    // A drain waits for a few milliseconds of sound; a server that holds it
    // longer is not waited for.
    static constexpr std::chrono::milliseconds drain_limit{500};
    // Every caller looks several times a second while it plays.
    static constexpr int64_t held_ns = 2'000'000'000;

    std::shared_ptr<output_worker> worker_;
    int64_t last_look_ns_ = 0;
};

}  // namespace

wave_error open_alsa_output(const char* device_name, std::unique_ptr<wave_output>& device, int answer_limit_ms,
                            int queue_ms) {
    auto worker = std::make_shared<output_worker>();
    const alsa_pcm_shape shape = shape_for_queue(queue_ms);
    if (wave_error error = worker->open(device_name, shape, answer_limit_ms)) return error;
    device = std::make_unique<alsa_output>(std::move(worker));
    return 0;
}
