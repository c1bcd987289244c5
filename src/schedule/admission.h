#pragma once

inline constexpr int max_offsets = 200;
inline constexpr double highest_frequency = 20000.0;
inline constexpr int longest_duration = 3600;
inline constexpr int default_duration = 180;

extern double offsets[max_offsets];
extern int num_offsets;

// Returns the number of offsets held, or -1 (reported) when the set is full.
int add_offset(double value);
// No offsets: the single offset 0. Several: ascending.
void finish_offsets();
// Checks the limits and queues one tone per offset at fdt_pos. Always 0.
int add_frequency(double frequency, int duration);
void reset_offsets();
