#include "schedule/admission.h"

#include <algorithm>

#include "log/log.h"
#include "process/release.h"
#include "process/settings.h"
#include "schedule/fdt.h"

double offsets[max_offsets];
int num_offsets = 0;

namespace {

// With -e, tones below 20 Hz sound six octaves up, so 0.3125 Hz is the
// lowest that lands in hearing range.
double lowest_frequency() {
    return settings.octave_shift ? 0.3125 : 0.0;
}

}  // namespace

int add_offset(double value) {
    for (int i = 0; i < num_offsets; ++i)
        if (offsets[i] == value) return num_offsets;
    if (num_offsets == max_offsets) {
        log_err("%s: too many offsets/brackets\n", program_name);
        return -1;
    }
    offsets[num_offsets++] = value;
    return num_offsets;
}

void finish_offsets() {
    if (num_offsets == 0) {
        offsets[0] = 0.0;
        num_offsets = 1;
    } else {
        std::sort(offsets, offsets + num_offsets);
    }
}

int add_frequency(double frequency, int duration) {
    double lowest = lowest_frequency();
    // Written so that a frequency that is not a number fails too.
    if (!(frequency >= lowest)) {
        log_err("%s: frequency %g < minimum of %g: ignored\n", program_name, frequency, lowest);
        return 0;
    }
    if (frequency > highest_frequency) {
        log_err("%s: frequency %g > maximum of %g: ignored\n", program_name, frequency, highest_frequency);
        return 0;
    }
    if (duration > longest_duration) {
        log_err("%s: duration %d > maximum of %d: ignored\n", program_name, duration, longest_duration);
        return 0;
    }
    if (duration == 0) duration = default_duration;
    for (int i = 0; i < num_offsets; ++i) {
        fdt_insert(frequency + offsets[i], duration, nullptr, static_cast<int>(fdt_pos));
        ++fdt_pos;
    }
    return 0;
}

void reset_offsets() {
    num_offsets = 0;
}

namespace {

const reset_step reset_offsets_step{reset_offsets};

}  // namespace
