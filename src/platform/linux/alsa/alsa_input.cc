#include "platform/linux/alsa/alsa_input.h"

#include "platform/linux/alsa/alsa_pcm.h"
#include "platform/linux/alsa/pcm_worker.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using pcm_worker_time::now_ns;

constexpr unsigned input_rate = 1000;
constexpr unsigned input_channels = 2;
// At 1000 frames/s the reader wakes once a quarter second, a period at a
// time; two seconds of ring leave room for a reader that wakes late.
constexpr alsa_pcm_shape input_shape{input_channels, input_rate, 2000000, 250000, 1};

// The thread's side of the device. It reads into a buffer of its own and
// copies into the caller's block only while the worker is not given up, so
// a thread that comes back late from the library never writes into memory
// the caller has freed.
class input_worker final : public pcm_worker {
public:
    input_worker() : pcm_worker(alsa_direction::capture) {}

    std::atomic<uint64_t> recorded{0};
    std::atomic<wave_error> failure{0};
    // While recording: when it started, and when input last came in.
    std::atomic<bool> recording{false};
    std::atomic<int64_t> started_ns{0};
    std::atomic<int64_t> progress_ns{0};

    void opened() override {
        snd_pcm_uframes_t ring = 0;
        snd_pcm_uframes_t period = 0;
        if (snd_pcm_get_params(pcm, &ring, &period) == 0) staging.resize(ring * input_channels);
        if (staging.empty()) staging.resize(std::size_t{input_rate} * input_channels);
    }

    void start_on_thread(const pcm_block& into, bool round, wave_error& result) {
        halt();
        block = into;
        round_ring = round;
        recorded.store(0);
        // Preparing again would cost a new stream on a sound server.
        int error = snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED ? 0 : snd_pcm_prepare(pcm);
        if (error == 0) error = snd_pcm_start(pcm);
        if (error < 0) {
            snd_pcm_drop(pcm);
            block = {};
            result = alsa_failure(alsa_direction::capture, alsa_step::record, error);
            return;
        }
        capturing = true;
        started_ns.store(now_ns());
        progress_ns.store(now_ns());
        recording.store(true);
        result = 0;
    }

    // Takes in what the device still holds, then stops it.
    void stop_on_thread() {
        if (capturing) read_available();
        halt();
    }

    void forget_on_thread() {
        halt();
        block = {};
        recorded.store(0);
    }

private:
    wait_plan service() override {
        if (!capturing) return {};
        read_available();
        return {capturing, -1};
    }

    void read_available() {
        while (capturing) {
            const uint64_t done = recorded.load();
            // Round the ring, up to its end at a time.
            const uint64_t room = round_ring ? block.frames - done % block.frames : block.frames - done;
            const auto want = static_cast<snd_pcm_uframes_t>(
                std::min<std::size_t>(room, staging.size() / input_channels));
            const snd_pcm_sframes_t got = snd_pcm_readi(pcm, staging.data(), want);
            if (got > 0) {
                if (!keep(done, static_cast<uint32_t>(got))) return;
                // The block is full: later input is dropped.
                if (!round_ring && recorded.load() >= block.frames) halt();
            } else if (got == 0 || got == -EAGAIN) {
                return;
            } else if (!recover(static_cast<int>(got))) {
                // The device is gone (unplugged, its server away): the
                // recording ends with what it has, and the loss is told.
                wave_error expected = 0;
                failure.compare_exchange_strong(
                    expected, alsa_failure(alsa_direction::capture, alsa_step::record, static_cast<int>(got)));
                halt();
            }
        }
    }

    bool keep(uint64_t done, uint32_t frames) {
        std::lock_guard<std::mutex> lock(caller_memory());
        if (given_up()) return false;
        const std::size_t at = static_cast<std::size_t>(round_ring ? done % block.frames : done);
        std::memcpy(block.samples + at * input_channels, staging.data(),
                    std::size_t{frames} * input_channels * sizeof(int16_t));
        recorded.store(done + frames);
        progress_ns.store(now_ns());
        return true;
    }

    // An overrun loses some input but the recording goes on.
    bool recover(int error) {
        if (error != -EPIPE && error != -ESTRPIPE && error != -EINTR) return false;
        if (snd_pcm_recover(pcm, error, 1) < 0) return false;
        return snd_pcm_start(pcm) == 0 || snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING;
    }

    void halt() {
        if (capturing || snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) snd_pcm_drop(pcm);
        capturing = false;
        recording.store(false);
    }

    pcm_block block;
    bool round_ring = false;  // round the block, on and on
    bool capturing = false;
    std::vector<int16_t> staging;
};

class alsa_input final : public wave_input {
public:
    explicit alsa_input(std::shared_ptr<input_worker> worker) : worker_(std::move(worker)) {}
    ~alsa_input() override { worker_->finish(); }

    alsa_input(const alsa_input&) = delete;
    alsa_input& operator=(const alsa_input&) = delete;

    wave_error start(const pcm_block& block) override { return start_recording(block, false); }
    wave_error start_ring(const pcm_block& ring) override { return start_recording(ring, true); }

    uint32_t stop() override {
        if (!worker_->given_up() && !worker_->call([worker = worker_.get()] { worker->stop_on_thread(); })) give_up();
        return static_cast<uint32_t>(std::min<uint64_t>(worker_->recorded.load(), UINT32_MAX));
    }

    uint64_t recorded() override { return worker_->recorded.load(); }

    void reset() override {
        if (!worker_->given_up() && !worker_->call([worker = worker_.get()] { worker->forget_on_thread(); })) give_up();
        if (worker_->given_up()) worker_->recorded.store(0);
    }

    // A recording that gets no input for the stall limit (its server
    // stopped answering) is lost as well: the thread may be stuck for good.
    wave_error failure() override {
        input_worker& w = *worker_;
        if (w.failure.load() == 0 && w.recording.load()) {
            const int64_t now = now_ns();
            const bool starting = now - w.started_ns.load() < std::chrono::nanoseconds(device_start_deadline).count();
            const bool stalled = now - w.progress_ns.load() > std::chrono::nanoseconds(device_stall_deadline).count();
            if (stalled && !starting) give_up(alsa_step::record);
        }
        return w.failure.load();
    }

private:
    wave_error start_recording(const pcm_block& block, bool ring) {
        if (wave_error failure = this->failure()) return failure;
        if (block.samples == nullptr || block.frames == 0) {
            reset();
            return 0;
        }
        // The result is the worker's, so that a call given up never leaves
        // the thread writing into this frame.
        auto result = std::make_shared<wave_error>(0);
        if (!worker_->call([worker = worker_.get(), block, ring, result] {
                worker->start_on_thread(block, ring, *result);
            })) {
            give_up();
            return failure();
        }
        return *result;
    }

    void give_up(alsa_step step = alsa_step::stop) {
        wave_error expected = 0;
        worker_->failure.compare_exchange_strong(expected, alsa_failure(alsa_direction::capture, step, -ETIMEDOUT));
        worker_->give_up();
    }

    std::shared_ptr<input_worker> worker_;
};

}  // namespace

wave_error open_alsa_input(const char* device_name, std::unique_ptr<wave_input>& device, int answer_limit_ms) {
    auto worker = std::make_shared<input_worker>();
    if (wave_error error = worker->open(device_name, input_shape, answer_limit_ms)) return error;
    device = std::make_unique<alsa_input>(std::move(worker));
    return 0;
}
