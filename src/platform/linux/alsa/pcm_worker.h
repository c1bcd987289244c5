#pragma once

#include <alsa/asoundlib.h>

#include "platform/linux/alsa/alsa_pcm.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// One thread that owns one PCM and makes every call on it, so that the
// caller can give up on a call that never returns (a stopped sound server
// blocks some of them for ever) instead of hanging with it. Between calls
// the thread runs service(), which moves the audio and says how long the
// thread may sleep. The thread holds the worker alive, so a thread still
// stuck in the library when the caller gives up outlives the device object
// harmlessly; once it comes back it closes the PCM itself, where waiting on
// the device harms nobody, and ends. Until then it counts as stuck, and no
// new device of its direction is opened: a long wait for a frozen device
// keeps one thread and one PCM, not one per try.
namespace pcm_worker_time {
// The steady clock in nanoseconds, as the workers' progress stamps hold it.
inline int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace pcm_worker_time

class pcm_worker : public std::enable_shared_from_this<pcm_worker> {
public:
    using clock = std::chrono::steady_clock;

    explicit pcm_worker(alsa_direction direction);
    virtual ~pcm_worker();
    pcm_worker(const pcm_worker&) = delete;
    pcm_worker& operator=(const pcm_worker&) = delete;

    // Starts the thread, with every signal blocked so that Ctrl-C and its
    // kin reach the main thread. False if it cannot be started.
    bool launch();
    // Starts the thread and opens the PCM on it within answer_limit_ms: 0,
    // or the failure, after which the worker is finished.
    wave_error open(const char* device_name, const alsa_pcm_shape& shape, int answer_limit_ms);

    // Hands the work to the thread; awaits() waits for it. One at a time.
    void submit(std::function<void()> work);
    // False when the work was not done by the deadline, or within a quarter
    // of a second of an interrupt signal: the worker is then given up, and
    // the thread does nothing more.
    bool await(clock::time_point deadline);
    // submit() and await() within the device deadline, or within limit.
    bool call(std::function<void()> work);
    bool submit_and_await(std::function<void()> work, clock::duration limit);

    // Gives the worker up at once: the thread does nothing more.
    void give_up();
    // Wakes the thread for service(); from any thread.
    void wake();
    // Closes the PCM on the thread and ends it, or leaves a thread that no
    // longer answers to itself.
    void finish();
    bool given_up() const { return given_up_.load(); }
    // True once any worker of the process was given up.
    static bool any_given_up();
    // Workers of the direction given up whose threads have not yet come back.
    static int stuck(alsa_direction direction);

protected:
    struct wait_plan {
        bool for_pcm = false;  // also wake when the PCM is ready
        int timeout_ms = -1;   // -1: until woken
    };
    // On the thread, after every wake and every call, while a PCM is open.
    virtual wait_plan service() = 0;
    // On the thread, once the PCM is open.
    virtual void opened() {}
    // Guards what the thread writes into the caller's memory: once the
    // worker is given up, nothing may be written there.
    std::mutex& caller_memory() { return mutex_; }

    snd_pcm_t* pcm = nullptr;  // used on the thread only

private:
    void run();
    void sleep(const wait_plan& plan);
    void thread_ends();

    alsa_direction direction_;
    int wake_fd_ = -1;
    bool thread_live_ = false;  // guarded by mutex_
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::function<void()> work_;  // handed over, not yet taken
    uint64_t submitted_ = 0;
    uint64_t completed_ = 0;
    bool ending_ = false;
    std::atomic<bool> given_up_{false};
};
