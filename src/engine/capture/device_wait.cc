#include "engine/capture/device_wait.h"

#include <string>

#include "engine/capture/capture.h"
#include "engine/control/control.h"
#include "log/log.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"

namespace {

// How long a wait lets pass between tries while a device is away.
constexpr int64_t try_interval_ms = 1000;

int64_t monotonic_now() {
    return current_platform->clock.monotonic_ms();
}

struct wait_state {
    bool active = false;
    device_failure failure;
    int64_t since_ms = 0;        // the first failure
    int64_t last_try_ms = 0;     // the last failure or try
    int64_t reopened_ms = -1;    // open again since then, not yet heard
};

wait_state wait;

const reset_step wait_reset{device_wait::reset};

}  // namespace

bool open_input_device(device_failure& failure, int answer_limit_ms) {
    if (mor_file == nullptr || wave_in) return true;
    if (wave_error code = capture_open(answer_limit_ms)) {
        failure = {true, code};
        return false;
    }
    return true;
}

bool open_output_device(device_failure& failure, int answer_limit_ms, int queue_ms) {
    if (wave_out) return true;
    if (wave_error code =
            current_platform->audio.open_output(settings.output_device, wave_out, answer_limit_ms, queue_ms)) {
        wave_out.reset();
        failure = {false, code};
        return false;
    }
    return true;
}

bool open_devices(device_failure& failure, int answer_limit_ms) {
    return open_output_device(failure, answer_limit_ms, long_queue_ms) && open_input_device(failure, answer_limit_ms);
}

void close_devices() {
    capture_suspend();
    if (!wave_out) return;
    wave_out->reset();
    wave_out.reset();
}

bool devices_failed(device_failure& failure) {
    if (wave_out) {
        if (wave_error code = wave_out->failure()) {
            failure = {false, code};
            return true;
        }
    }
    if (wave_error code = capture_failure()) {
        failure = {true, code};
        return true;
    }
    return false;
}

void report_device(const device_failure& failure, const char* what) {
    log_err("%s: %s: %s%s\n", program_name, failure.input ? "waveIn" : "waveOut",
            current_platform->audio.error_text(failure.code).c_str(), what);
}

void device_failure_exit(const device_failure& failure) {
    report_device(failure, "");
    cleanup_and_exit(1);
}

namespace device_wait {

bool active() {
    return wait.active;
}

const device_failure& failure() {
    return wait.failure;
}

void begin(const device_failure& failure) {
    const int64_t now = monotonic_now();
    if (!wait.active) {
        wait = wait_state{true, failure, now, now, -1};
        tell_control_clients(run_event::device_lost);
        report_device(failure, (" (waiting up to " + std::to_string(settings.wait_for_device) +
                                " s for it to answer again)")
                                   .c_str());
        return;
    }
    // The same wait goes on. Tries that fail are the wait itself, which
    // the status line shows; a device that opened and failed again before
    // it was heard is told.
    const bool had_opened = wait.reopened_ms >= 0;
    wait.failure = failure;
    wait.last_try_ms = now;
    wait.reopened_ms = -1;
    if (!had_opened) return;
    const int64_t left = settings.wait_for_device - waited_seconds();
    report_device(failure, (" (still waiting, " + std::to_string(left > 0 ? left : 0) + " s left)").c_str());
}

void end_run_if_over() {
    if (!wait.active) return;
    if (monotonic_now() - wait.since_ms >= int64_t{settings.wait_for_device} * 1000) device_failure_exit(wait.failure);
}

int64_t waited_seconds() {
    return wait.active ? (monotonic_now() - wait.since_ms) / 1000 : 0;
}

bool try_due() {
    if (!wait.active || monotonic_now() - wait.last_try_ms < try_interval_ms) return false;
    wait.last_try_ms = monotonic_now();
    return true;
}

int try_answer_limit_ms() {
    const int64_t left = int64_t{settings.wait_for_device} * 1000 - (monotonic_now() - wait.since_ms);
    if (left <= 0) return 0;
    return left < device_answer_limit_ms ? static_cast<int>(left) : device_answer_limit_ms;
}

void reopened() {
    if (wait.active && wait.reopened_ms < 0) wait.reopened_ms = monotonic_now();
}

void heard() {
    if (!wait.active || wait.reopened_ms < 0) return;
    log_err("%s: %s: the sound device answers again, after %lld s without sound\n", program_name,
            wait.failure.input ? "waveIn" : "waveOut",
            static_cast<long long>((wait.reopened_ms - wait.since_ms) / 1000));
    wait = wait_state{};
    tell_control_clients(run_event::device_back);
}

void reset() {
    wait = wait_state{};
}

}  // namespace device_wait
