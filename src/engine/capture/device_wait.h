#pragma once

#include <cstdint>

#include "platform/wave_audio.h"

// The sound devices of a tone, opened and closed together, and the wait of
// --wait-for-device for one that failed.

// A device that failed, and how.
struct device_failure {
    bool input = false;
    wave_error code = 0;
};

// Opens the output device and, with -m, the input device, whichever is not
// open yet, each within answer_limit_ms. False with the failure when one
// does not open; an output that opened stays open.
bool open_devices(device_failure& failure, int answer_limit_ms);
// Opens the input device alone, if it is not open.
bool open_input_device(device_failure& failure, int answer_limit_ms);
// Opens the output device alone, for a caller that keeps queue_ms queued.
bool open_output_device(device_failure& failure, int answer_limit_ms, int queue_ms);
// Closes both, keeping what the input recorded so far.
void close_devices();
// A failure that an open device met on its own.
bool devices_failed(device_failure& failure);
// "tonquel: waveOut: TEXT" and then what, through log_err.
void report_device(const device_failure& failure, const char* what);
// Reports the failure and ends the run with status 1.
[[noreturn]] void device_failure_exit(const device_failure& failure);

// The wait runs from a device's first failure until a device opened again
// has played, on the monotonic clock: failures on the way neither restart it
// nor end it, and a device that opens but plays nothing is not back.
namespace device_wait {

bool active();
// The device that failed last.
const device_failure& failure();
// A device failed: the wait starts, or goes on from where it stands.
void begin(const device_failure& failure);
// Ends the run as the failure would without the wait, once it has run out.
void end_run_if_over();
// Seconds since the first failure.
int64_t waited_seconds();
// Whether a try is due (about once a second), and how long it may take:
// the time the wait has left, at most a device's own answer limit.
bool try_due();
int try_answer_limit_ms();
// The devices opened again; they count as back once they play.
void reopened();
// A block played (or the input recorded) on a device opened again: the wait
// is over.
void heard();
void reset();

}  // namespace device_wait
