#include "platform/linux/alsa_input.h"
#include "platform/linux/alsa_probe.h"
#include "platform/linux/alsa_thread.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned input_rate = 1000;
constexpr unsigned input_channels = 2;
// At 1000 frames/s a fifth of a second is 200 frames: room for a reader
// that wakes late without the capture overrunning.
constexpr unsigned ring_latency_us = 200000;
// Longest the reader blocks in one wait, which bounds how long stop() takes.
constexpr int wait_step_ms = 20;

class alsa_input final : public wave_input {
public:
    explicit alsa_input(snd_pcm_t* pcm) : pcm_(pcm) {}

    ~alsa_input() override {
        reset();
        snd_pcm_close(pcm_);
    }

    alsa_input(const alsa_input&) = delete;
    alsa_input& operator=(const alsa_input&) = delete;

    wave_error start(const pcm_block& block) override {
        reset();
        if (block.samples == nullptr || block.frames == 0) {
            return 0;
        }
        int error = snd_pcm_prepare(pcm_);
        if (error == 0) {
            error = snd_pcm_start(pcm_);
        }
        if (error < 0) {
            snd_pcm_drop(pcm_);
            return error;
        }
        block_ = block;
        recorded_.store(0);
        stopping_.store(false);
        try {
            reader_ = start_device_thread(&alsa_input::read_into_block, this);
        } catch (const std::system_error& failure) {
            snd_pcm_drop(pcm_);
            block_ = {};
            return -failure.code().value();
        }
        return 0;
    }

    uint32_t stop() override {
        halt();
        return recorded_.load();
    }

    void reset() override {
        halt();
        block_ = {};
        recorded_.store(0);
    }

private:
    void halt() {
        if (reader_.joinable()) {
            stopping_.store(true);
            reader_.join();
        }
        snd_pcm_drop(pcm_);
    }

    void read_into_block() {
        uint32_t recorded = 0;
        while (!stopping_.load() && recorded < block_.frames) {
            const snd_pcm_sframes_t got =
                snd_pcm_readi(pcm_, block_.samples + std::size_t{recorded} * input_channels,
                              block_.frames - recorded);
            if (got > 0) {
                recorded += static_cast<uint32_t>(got);
                recorded_.store(recorded);
            } else if (got == 0 || got == -EAGAIN) {
                const int ready = snd_pcm_wait(pcm_, wait_step_ms);
                if (ready < 0 && !recover(ready)) {
                    break;
                }
            } else if (!recover(static_cast<int>(got))) {
                break;
            }
        }
        // The block is full (or the device is gone): later input is dropped.
        snd_pcm_drop(pcm_);
    }

    // An overrun loses some input but the recording goes on; any other
    // error ends it with what was recorded so far.
    bool recover(int error) {
        if (error != -EPIPE && error != -ESTRPIPE && error != -EINTR) {
            return false;
        }
        if (snd_pcm_recover(pcm_, error, 1) < 0) {
            return false;
        }
        return snd_pcm_start(pcm_) == 0 || snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING;
    }

    snd_pcm_t* pcm_;
    pcm_block block_;
    std::atomic<uint32_t> recorded_{0};
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

}  // namespace

wave_error open_alsa_input(const char* device_name, std::unique_ptr<wave_input>& device) {
    snd_pcm_t* pcm = nullptr;
    wave_error error = open_alsa_pcm(device_name, alsa_direction::capture, input_channels, input_rate, ring_latency_us, pcm);
    if (error != 0) return error;
    device = std::make_unique<alsa_input>(pcm);
    return 0;
}
