#include "platform/linux/logind/sleep_inhibitor_logind.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

#include "process/exit.h"

namespace {

using steady = std::chrono::steady_clock;

// A bus that does not answer must not hold the first tone back for long:
// connecting, authenticating and the call together get this long.
constexpr auto answer_limit = std::chrono::seconds(2);
constexpr uint64_t wait_slice_us = 50'000;

// logind keeps the lock while the descriptor it handed out stays open.
class logind_sleep_inhibitor final : public sleep_inhibitor {
public:
    ~logind_sleep_inhibitor() override { release(); }

    // Asked once per run: a bus that did not answer, or a logind that said
    // no, is not asked again at every tone.
    void hold() override {
        if (fd_ >= 0 || asked_) return;
        asked_ = true;
        sd_bus* bus = nullptr;
        // Connects without blocking; the call below waits for it, under
        // the one limit.
        if (sd_bus_open_system(&bus) < 0) return;
        sd_bus_slot* slot = nullptr;
        if (sd_bus_call_method_async(bus, &slot, "org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "Inhibit", on_reply, this, "ssss",
                                     "sleep:idle", "tonquel", "playing a tone schedule", "block") >= 0) {
            await_reply(bus);
        }
        sd_bus_slot_unref(slot);
        // Closed without a flush, which would wait on a bus that does not
        // answer.
        sd_bus_close(bus);
        sd_bus_unref(bus);
    }

    void release() override {
        asked_ = false;
        if (fd_ < 0) return;
        close(fd_);
        fd_ = -1;
    }

private:
    static int on_reply(sd_bus_message* reply, void* self_pointer, sd_bus_error*) {
        auto* self = static_cast<logind_sleep_inhibitor*>(self_pointer);
        self->answered_ = true;
        int lock = -1;
        if (!sd_bus_message_is_method_error(reply, nullptr) && sd_bus_message_read(reply, "h", &lock) >= 0)
            self->fd_ = fcntl(lock, F_DUPFD_CLOEXEC, 3);  // the reply owns its descriptor
        return 0;
    }

    // Until the reply, the limit, or an interrupt, which the run then acts on.
    void await_reply(sd_bus* bus) {
        answered_ = false;
        const auto deadline = steady::now() + answer_limit;
        while (!answered_ && pending_signal == 0) {
            const int processed = sd_bus_process(bus, nullptr);
            if (processed < 0) return;
            if (processed > 0) continue;
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - steady::now());
            if (left.count() <= 0) return;
            const uint64_t slice = static_cast<uint64_t>(left.count()) < wait_slice_us
                                       ? static_cast<uint64_t>(left.count())
                                       : wait_slice_us;
            if (sd_bus_wait(bus, slice) < 0 && pending_signal == 0) return;
        }
    }

    int fd_ = -1;
    bool asked_ = false;
    bool answered_ = false;
};

}  // namespace

std::unique_ptr<sleep_inhibitor> make_logind_sleep_inhibitor() {
    return std::make_unique<logind_sleep_inhibitor>();
}
