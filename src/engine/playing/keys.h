#pragma once

#include <cstdint>

// What a key does to the tone that is playing.
enum class key_effect { tone_goes_on, tone_ends };

// Acts on a key polled while the tone of frequency f plays; a pause moves
// start_second on by its length.
key_effect dispatch_key(int code, double f, int64_t& start_second);
// The pause key's line, in the record before the pause begins.
void announce_pause();
