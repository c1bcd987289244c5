#pragma once

#include <cstdint>

inline constexpr int table_size = 4096;

extern int16_t left_table[table_size];
extern int16_t right_table[table_size];
extern bool tables_built;

// One cycle of the chosen shape per channel, scaled by its volume; the right
// table is shifted by the phase angle. Built once per run.
void build_wavetables();
