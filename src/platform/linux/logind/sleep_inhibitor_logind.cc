#include "platform/linux/logind/sleep_inhibitor_logind.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>

namespace {

// A bus that does not answer must not hold the first tone back for long.
constexpr uint64_t call_timeout_us = 2'000'000;

// logind keeps the lock while the descriptor it handed out stays open.
class logind_sleep_inhibitor final : public sleep_inhibitor {
public:
    ~logind_sleep_inhibitor() override { release(); }

    void hold() override {
        if (fd_ >= 0) return;
        sd_bus* bus = nullptr;
        if (sd_bus_open_system(&bus) < 0) return;
        sd_bus_set_method_call_timeout(bus, call_timeout_us);
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int lock = -1;
        if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss", "sleep:idle",
                               "tonquel", "playing a tone schedule", "block") >= 0 &&
            sd_bus_message_read(reply, "h", &lock) >= 0)
            fd_ = fcntl(lock, F_DUPFD_CLOEXEC, 3);  // the reply owns its descriptor
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        sd_bus_flush_close_unref(bus);
    }

    void release() override {
        if (fd_ < 0) return;
        close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<sleep_inhibitor> make_logind_sleep_inhibitor() {
    return std::make_unique<logind_sleep_inhibitor>();
}
