#include "platform/linux/alsa/pcm_worker.h"

#include "platform/linux/alsa/alsa_failures.h"
#include "platform/linux/alsa/alsa_thread.h"
#include "process/exit.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace {

std::atomic<bool> some_worker_given_up{false};
// Per direction: workers given up whose threads are still inside a call.
std::atomic<int> stuck_workers[2];

std::atomic<int>& stuck_of(alsa_direction direction) {
    return stuck_workers[direction == alsa_direction::capture ? 1 : 0];
}

// Once a signal is pending, a call still gets this long to finish: a working
// device answers in far less, one that does not is left behind.
constexpr auto interrupted_patience = std::chrono::milliseconds(250);
constexpr auto signal_look_interval = std::chrono::milliseconds(50);

}  // namespace

pcm_worker::pcm_worker(alsa_direction direction)
    : direction_(direction), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

pcm_worker::~pcm_worker() {
    // A worker given up closes its PCM on its own thread; closing here could
    // wait on the device that stopped answering.
    if (pcm != nullptr && !given_up_.load()) snd_pcm_close(pcm);
    if (wake_fd_ >= 0) close(wake_fd_);
}

bool pcm_worker::launch() {
    if (wake_fd_ < 0) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        thread_live_ = true;
    }
    try {
        thread_ = start_device_thread([self = shared_from_this()] { self->run(); });
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(mutex_);
        thread_live_ = false;
        return false;
    }
    return true;
}

wave_error pcm_worker::open(const char* device_name, const alsa_pcm_shape& shape, int answer_limit_ms) {
    if (stuck(direction_) > 0) return alsa_failure(direction_, alsa_step::open, -EALREADY);
    if (!launch()) return alsa_failure(direction_, alsa_step::open, -EAGAIN);
    auto result = std::make_shared<wave_error>(0);
    if (!submit_and_await(
            [this, result, name = std::string(device_name), shape] {
                *result = open_alsa_pcm(name.c_str(), direction_, shape, pcm);
                if (*result == 0) opened();
            },
            std::chrono::milliseconds(answer_limit_ms))) {
        finish();
        return alsa_failure(direction_, alsa_step::open, -ETIMEDOUT);
    }
    if (*result != 0) finish();
    return *result;
}

void pcm_worker::submit(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        work_ = std::move(work);
        ++submitted_;
    }
    wake();
}

bool pcm_worker::await(clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto finished = [this] { return completed_ == submitted_ || given_up_.load(); };
    // A condition variable's wait goes on through signals, so the wait is cut
    // into slices that look for one.
    bool interrupted = false;
    while (!finished()) {
        const auto now = clock::now();
        if (!interrupted && pending_signal != 0) {
            interrupted = true;
            if (now + interrupted_patience < deadline) deadline = now + interrupted_patience;
        }
        if (now >= deadline) break;
        done_.wait_until(lock, std::min(deadline, now + signal_look_interval));
    }
    if (finished() && !given_up_.load()) return true;
    lock.unlock();
    give_up();
    return false;
}

bool pcm_worker::any_given_up() {
    return some_worker_given_up.load();
}

int pcm_worker::stuck(alsa_direction direction) {
    return stuck_of(direction).load();
}

void pcm_worker::give_up() {
    some_worker_given_up.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!given_up_.load() && thread_live_) ++stuck_of(direction_);
        given_up_.store(true);
        work_ = nullptr;
    }
    wake();
}

bool pcm_worker::call(std::function<void()> work) {
    return submit_and_await(std::move(work), device_answer_deadline);
}

bool pcm_worker::submit_and_await(std::function<void()> work, clock::duration limit) {
    submit(std::move(work));
    return await(clock::now() + limit);
}

void pcm_worker::wake() {
    const uint64_t one = 1;
    // A full counter already wakes the thread; nothing is lost.
    [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
}

void pcm_worker::finish() {
    if (!thread_.joinable()) return;
    if (!given_up_.load()) {
        call([this] {
            if (pcm != nullptr) snd_pcm_close(pcm);
            pcm = nullptr;
            ending_ = true;
        });
    }
    if (given_up_.load()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void pcm_worker::run() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (given_up_.load()) break;
            work.swap(work_);
        }
        if (work) {
            work();
            std::lock_guard<std::mutex> lock(mutex_);
            completed_ = submitted_;
            done_.notify_all();
            if (ending_ || given_up_.load()) break;
        }
        sleep(pcm != nullptr ? service() : wait_plan{});
    }
    thread_ends();
}

void pcm_worker::thread_ends() {
    // Back from the library after the caller gave up (or never stuck at
    // all): the device is closed here, where waiting on it harms nobody.
    if (given_up_.load() && pcm != nullptr) {
        snd_pcm_close(pcm);
        pcm = nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (given_up_.load() && thread_live_) --stuck_of(direction_);
    thread_live_ = false;
}

void pcm_worker::sleep(const wait_plan& plan) {
    std::vector<pollfd> fds{{wake_fd_, POLLIN, 0}};
    int pcm_fds = 0;
    if (plan.for_pcm && pcm != nullptr) {
        pcm_fds = snd_pcm_poll_descriptors_count(pcm);
        if (pcm_fds > 0) {
            fds.resize(1 + static_cast<size_t>(pcm_fds));
            pcm_fds = snd_pcm_poll_descriptors(pcm, fds.data() + 1, static_cast<unsigned>(pcm_fds));
            if (pcm_fds < 0) pcm_fds = 0;
            fds.resize(1 + static_cast<size_t>(pcm_fds));
        }
    }
    if (poll(fds.data(), fds.size(), plan.timeout_ms) <= 0) return;
    if (fds[0].revents != 0) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t got = read(wake_fd_, &count, sizeof count);
    }
    if (pcm_fds > 0) {
        // Lets plugins (the pulse one among them) clear their own wake-ups.
        unsigned short revents = 0;
        snd_pcm_poll_descriptors_revents(pcm, fds.data() + 1, static_cast<unsigned>(pcm_fds), &revents);
    }
}
