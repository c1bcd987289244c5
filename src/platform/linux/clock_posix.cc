#include "platform/linux/clock_posix.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <ctime>

int64_t posix_clock::now_seconds() {
    return static_cast<int64_t>(time(nullptr));
}

int64_t posix_clock::monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void posix_clock::sleep_ms(int ms) {
    // A signal cuts the sleep short on purpose: the caller checks for it.
    timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}

void posix_clock::wait(std::span<const wait_handle> handles, int ms) {
    // A handful of handles at most: the output, the keys, the control
    // channel's listener and clients, the interrupt.
    constexpr size_t most = 40;
    std::array<pollfd, most> fds{};
    std::array<bool, most> counters{};
    size_t count = 0;
    const wait_handle interrupt = interrupt_wait_handle();
    auto add = [&](const wait_handle& handle) {
        if (handle.empty() || count == most) return;
        fds[count] = {static_cast<int>(handle.handle),
                      static_cast<short>(handle.when == wait_handle::ready::to_write ? POLLOUT : POLLIN), 0};
        counters[count++] = handle.when == wait_handle::ready::counter;
    };
    add(interrupt);
    for (const wait_handle& handle : handles) add(handle);
    if (poll(fds.data(), count, ms < 0 ? 0 : ms) <= 0) return;
    for (size_t i = 0; i < count; ++i) {
        if (!counters[i] || (fds[i].revents & POLLIN) == 0) continue;
        uint64_t value = 0;
        [[maybe_unused]] ssize_t got = read(fds[i].fd, &value, sizeof value);
    }
}
