#pragma once

// What the readers of a monitor recording share: the level that counts as
// sound, and the wall clock that the shell benchmarks compare with.

#include <chrono>

inline constexpr int loud = 100;  // of 32767: well above the monitor's noise

inline double epoch_seconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}
