// Reads raw 16-bit mono samples from standard input as they arrive (a
// recorder on the sound server's monitor) and reports when sound began and
// how much silence interrupted it:
//   sound_times [RATE]
// prints, at end of input, "first_sound_epoch_s gaps silent_s": the wall
// clock (seconds since the epoch) at which the first sample louder than a
// whisper arrived, and the count and total length of the silences of 1 ms
// or more between the first and the last sound.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "monitor_recording.h"

int main(int argc, char** argv) {
    const long rate = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 44100;
    const long shortest_gap = rate / 1000;
    unsigned char bytes[512];
    size_t kept = 0;  // an odd byte left from the last read
    double first_sound = 0;
    long quiet_run = 0;  // silent samples since the last sound
    long gaps = 0;
    long silent = 0;
    ssize_t got = 0;
    while ((got = read(STDIN_FILENO, bytes + kept, sizeof bytes - kept)) > 0) {
        const size_t have = kept + static_cast<size_t>(got);
        for (size_t at = 0; at + 1 < have; at += 2) {
            const auto sample = static_cast<int16_t>(bytes[at] | bytes[at + 1] << 8);
            const bool is_loud = sample > loud || sample < -loud;
            if (first_sound == 0) {
                if (is_loud) first_sound = epoch_seconds();
                continue;
            }
            if (!is_loud) {
                ++quiet_run;
                continue;
            }
            if (quiet_run >= shortest_gap) {
                ++gaps;
                silent += quiet_run;
            }
            quiet_run = 0;
        }
        kept = have % 2;
        if (kept != 0) bytes[0] = bytes[have - 1];
    }
    std::printf("%.6f %ld %.6f\n", first_sound, gaps, static_cast<double>(silent) / static_cast<double>(rate));
    return first_sound == 0 ? 1 : 0;
}
