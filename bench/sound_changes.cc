// Reads raw 16-bit mono samples from standard input as they arrive (a
// recorder on the sound server's monitor) and tells when the pitch changed:
//   sound_changes [RATE]
// prints one line per change, "EPOCH_S OLD_HZ NEW_HZ": the wall clock at
// which the samples that showed it arrived, judged from the periods between
// upward zero crossings of loud sound.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "monitor_recording.h"

int main(int argc, char** argv) {
    const double rate = argc > 1 ? std::strtod(argv[1], nullptr) : 44100.0;
    unsigned char bytes[256];
    size_t kept = 0;
    long frame = 0;
    long last_crossing = -1;
    int16_t previous = 0;
    double steady = 0;     // the period of the pitch that holds, in frames
    int differing = 0;     // periods in a row that differ from it
    double candidate = 0;
    ssize_t got = 0;
    while ((got = read(STDIN_FILENO, bytes + kept, sizeof bytes - kept)) > 0) {
        const size_t have = kept + static_cast<size_t>(got);
        for (size_t at = 0; at + 1 < have; at += 2, ++frame) {
            const auto sample = static_cast<int16_t>(bytes[at] | bytes[at + 1] << 8);
            const bool crossing = previous < 0 && sample >= 0 && std::abs(previous - sample) > loud / 10;
            previous = sample;
            if (!crossing) continue;
            if (last_crossing >= 0) {
                const double period = static_cast<double>(frame - last_crossing);
                if (steady == 0) {
                    steady = period;
                } else if (std::fabs(period - steady) > 0.2 * steady) {
                    // Three periods in a row of the new pitch: a change.
                    if (differing > 0 && std::fabs(period - candidate) > 0.2 * candidate) differing = 0;
                    candidate = period;
                    if (++differing == 3) {
                        std::printf("%.6f %.1f %.1f\n", epoch_seconds(), rate / steady, rate / period);
                        std::fflush(stdout);
                        steady = period;
                        differing = 0;
                    }
                } else {
                    steady = 0.9 * steady + 0.1 * period;
                    differing = 0;
                }
            }
            last_crossing = frame;
        }
        kept = have % 2;
        if (kept != 0) bytes[0] = bytes[have - 1];
    }
    return 0;
}
