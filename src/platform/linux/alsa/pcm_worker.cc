#include "platform/linux/alsa/pcm_worker.h"

#include "platform/linux/alsa/alsa_failures.h"
#include "platform/linux/alsa/alsa_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

pcm_worker::pcm_worker() : wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

pcm_worker::~pcm_worker() {
    // A worker given up may be destroyed on the caller's thread once its own
    // thread has left; closing would then wait on the device that stopped
    // answering. The process leaves without it.
    if (pcm != nullptr && !given_up_.load()) snd_pcm_close(pcm);
    if (wake_fd_ >= 0) close(wake_fd_);
}

bool pcm_worker::launch() {
    if (wake_fd_ < 0) return false;
    try {
        thread_ = start_device_thread([self = shared_from_this()] { self->run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

wave_error pcm_worker::open(const char* device_name, alsa_direction direction, const alsa_pcm_shape& shape) {
    if (!launch()) return alsa_failure(direction, alsa_step::open, -EAGAIN);
    auto result = std::make_shared<wave_error>(0);
    if (!call([this, result, name = std::string(device_name), direction, shape] {
            *result = open_alsa_pcm(name.c_str(), direction, shape, pcm);
            if (*result == 0) opened();
        })) {
        finish();
        return alsa_failure(direction, alsa_step::open, -ETIMEDOUT);
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
    if (done_.wait_until(lock, deadline, [this] { return completed_ == submitted_ || given_up_.load(); }) &&
        !given_up_.load()) {
        return true;
    }
    lock.unlock();
    give_up();
    return false;
}

namespace {
std::atomic<bool> some_worker_given_up{false};
}  // namespace

bool pcm_worker::any_given_up() {
    return some_worker_given_up.load();
}

void pcm_worker::give_up() {
    some_worker_given_up.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        given_up_.store(true);
        work_ = nullptr;
    }
    wake();
}

bool pcm_worker::call(std::function<void()> work) {
    submit(std::move(work));
    return await(clock::now() + device_answer_deadline);
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
            if (given_up_.load()) return;
            work.swap(work_);
        }
        if (work) {
            work();
            std::lock_guard<std::mutex> lock(mutex_);
            completed_ = submitted_;
            done_.notify_all();
            if (ending_ || given_up_.load()) return;
        }
        sleep(pcm != nullptr ? service() : wait_plan{});
    }
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
