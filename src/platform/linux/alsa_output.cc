#include "platform/linux/alsa_output.h"
#include "platform/linux/alsa_probe.h"
#include "platform/linux/alsa_thread.h"

#include <alsa/asoundlib.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned output_rate = 44100;
constexpr unsigned output_channels = 2;
// Ring buffer of a quarter second: deep enough that a late feeder wake-up
// never starves the device, short enough that the server wakes us rarely.
constexpr unsigned ring_latency_us = 250000;
// Longest the feeder blocks in one wait, which bounds how long reset() takes.
constexpr int wait_step_ms = 20;
// The caller keeps two blocks queued; a few spare slots cost nothing.
constexpr std::size_t queue_slots = 8;

struct queued_block {
    const int16_t* samples = nullptr;
    uint32_t frames = 0;
    uint32_t taken = 0;  // frames already in ALSA's ring; feeder only
    std::atomic<bool> done{true};
};

// The caller is the only producer (write) and the feeder thread the only
// consumer, so the queue needs no lock: the caller fills the slot at head,
// the feeder hands back the slot at tail by setting its done flag.
class alsa_output final : public wave_output {
public:
    explicit alsa_output(snd_pcm_t* pcm) : pcm_(pcm) {
        snd_pcm_uframes_t period = 0;
        if (snd_pcm_get_params(pcm_, &ring_frames_, &period) < 0) {
            ring_frames_ = 0;
        }
    }

    ~alsa_output() override {
        reset();
        snd_pcm_close(pcm_);
    }

    alsa_output(const alsa_output&) = delete;
    alsa_output& operator=(const alsa_output&) = delete;

    wave_error write(const pcm_block& block) override {
        if (const int failure = failure_.load(std::memory_order_acquire); failure != 0) {
            return failure;
        }
        if (block.samples == nullptr || block.frames == 0) {
            return 0;
        }
        const uint64_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= queue_slots) {
            return -ENOBUFS;
        }
        queued_block& slot = slots_[head % queue_slots];
        slot.samples = block.samples;
        slot.frames = block.frames;
        slot.taken = 0;
        slot.done.store(false, std::memory_order_relaxed);
        head_.store(head + 1, std::memory_order_release);
        if (!feeder_.joinable()) {
            stopping_.store(false);
            try {
                feeder_ = start_device_thread(&alsa_output::feed, this);
            } catch (const std::system_error& error) {
                hand_back_all();
                return -error.code().value();
            }
        }
        wake_.notify_one();
        return 0;
    }

    bool is_done(const pcm_block& block) override {
        for (const queued_block& slot : slots_) {
            if (slot.samples == block.samples && !slot.done.load(std::memory_order_acquire)) {
                return false;
            }
        }
        return true;
    }

    void reset() override {
        if (feeder_.joinable()) {
            stopping_.store(true);
            wake_.notify_one();
            feeder_.join();
        }
        snd_pcm_drop(pcm_);
        // Leaves the device ready for the next write; a lost device fails
        // here and that write reports it.
        snd_pcm_prepare(pcm_);
        hand_back_all();
    }

private:
    void feed() {
        while (!stopping_.load()) {
            if (failure_.load() != 0) {
                // Keep handing back whatever the caller still queues, so it
                // never waits on a block that will not play.
                hand_back_all();
                idle_wait();
                continue;
            }
            const uint64_t tail = tail_.load(std::memory_order_relaxed);
            if (tail == head_.load(std::memory_order_acquire)) {
                start_partly_filled_ring();
                idle_wait();
                continue;
            }
            queued_block& slot = slots_[tail % queue_slots];
            const snd_pcm_sframes_t written =
                snd_pcm_writei(pcm_, slot.samples + std::size_t{slot.taken} * output_channels,
                               slot.frames - slot.taken);
            if (written > 0) {
                slot.taken += static_cast<uint32_t>(written);
                if (slot.taken >= slot.frames) {
                    slot.done.store(true, std::memory_order_release);
                    tail_.store(tail + 1, std::memory_order_release);
                }
            } else if (written == 0 || written == -EAGAIN) {
                const int ready = snd_pcm_wait(pcm_, wait_step_ms);
                if (ready < 0) {
                    recover(ready);
                }
            } else {
                recover(static_cast<int>(written));
            }
        }
    }

    // Underruns (the caller stopped writing for a while) and suspends are
    // part of normal life; anything else means the device is gone.
    void recover(int error) {
        if (error == -EPIPE || error == -ESTRPIPE || error == -EINTR) {
            const int recovered = snd_pcm_recover(pcm_, error, 1);
            if (recovered == 0) {
                return;
            }
            error = recovered;
        }
        failure_.store(error, std::memory_order_release);
    }

    // ALSA starts playback once the ring is full; a last short block that
    // does not fill it would otherwise never sound.
    void start_partly_filled_ring() {
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) {
            return;
        }
        const snd_pcm_sframes_t space = snd_pcm_avail(pcm_);
        if (space >= 0 && static_cast<snd_pcm_uframes_t>(space) < ring_frames_) {
            snd_pcm_start(pcm_);
        }
    }

    void idle_wait() {
        std::unique_lock<std::mutex> lock(wake_mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(wait_step_ms));
    }

    // Only called while the feeder is not writing: from the feeder itself,
    // or by the caller once the feeder has been joined or never ran.
    void hand_back_all() {
        const uint64_t head = head_.load(std::memory_order_acquire);
        for (uint64_t index = tail_.load(std::memory_order_relaxed); index != head; ++index) {
            slots_[index % queue_slots].done.store(true, std::memory_order_release);
        }
        tail_.store(head, std::memory_order_release);
    }

    snd_pcm_t* pcm_;
    snd_pcm_uframes_t ring_frames_ = 0;
    std::array<queued_block, queue_slots> slots_;
    std::atomic<uint64_t> head_{0};
    std::atomic<uint64_t> tail_{0};
    std::atomic<int> failure_{0};
    std::atomic<bool> stopping_{false};
    std::mutex wake_mutex_;
    std::condition_variable wake_;
    std::thread feeder_;
};

}  // namespace

wave_error open_alsa_output(const char* device_name, std::unique_ptr<wave_output>& device) {
    snd_pcm_t* pcm = nullptr;
    wave_error error = open_alsa_pcm(device_name, alsa_direction::playback, output_channels, output_rate, ring_latency_us, pcm);
    if (error != 0) return error;
    device = std::make_unique<alsa_output>(pcm);
    return 0;
}
