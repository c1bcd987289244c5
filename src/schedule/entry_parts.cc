#include "schedule/entry_parts.h"

#include <cstdint>

#include "process/settings.h"

namespace {

int saturated_difference(int a, int b) {
    int64_t difference = int64_t{a} - b;
    if (difference > INT32_MAX) return INT32_MAX;
    if (difference < INT32_MIN) return INT32_MIN;
    return static_cast<int>(difference);
}

}  // namespace

entry_parts split_entry(int duration) {
    const int pulse = settings.pulse_frequency;
    const int pulse_seconds = settings.pulse_duration;
    if (pulse != 0 && pulse_seconds != 0 && duration >= pulse_seconds)
        return {saturated_difference(duration, pulse_seconds), 0, true, pulse_seconds, pulse};
    return {duration, pulse, false, 0, 0};
}

int64_t entry_sound_seconds(int duration) {
    const entry_parts parts = split_entry(duration);
    int64_t seconds = parts.first_seconds >= 1 ? parts.first_seconds : 0;
    if (parts.split && parts.tail_seconds >= 1) seconds += parts.tail_seconds;
    return seconds;
}
