#pragma once

#include <cstdint>

// One schedule entry: a tone (no text) or a comment line (owned text, line
// end included).
struct fdt_entry {
    double frequency;
    int32_t duration;
    char* text;
};

extern fdt_entry* fdt;
extern uint32_t num_fdt;
extern uint32_t fdt_capacity;
// While building, where the next entry goes; while playing, the entry playing.
extern uint32_t fdt_pos;
// The value of fdt_pos that makes entry 0 the next one played: the play
// loop's advance wraps it to 0.
inline constexpr uint32_t before_first_entry = UINT32_MAX;

// Inserts at index (0..num_fdt), copying text. Out of memory and a bad index
// end the run with status 1.
void fdt_insert(double frequency, int duration, const char* text, int index);
void fdt_free();

// How many more entries the table can take before memory runs out.
uint64_t fdt_room();
// Reports the lack of memory and ends the run with status 1.
[[noreturn]] void fdt_out_of_memory();
