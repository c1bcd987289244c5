#include "schedule/fdt.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "log/terminal_lines.h"
#include "platform/os.h"
#include "process/exit.h"
#include "process/release.h"

fdt_entry* fdt = nullptr;
uint32_t num_fdt = 0;
uint32_t fdt_capacity = 0;
uint32_t fdt_pos = 0;

namespace {

constexpr uint32_t growth_step = 1000;

// The most entries the table may hold: indexes are signed 32-bit, and the
// table may use at most half of the physical memory, so that a schedule too
// large for the machine ends through the out-of-memory message instead of
// being killed by the kernel part way.
uint32_t capacity_limit() {
    static uint32_t limit = [] {
        uint64_t entries = INT32_MAX - growth_step;
        if (uint64_t memory = physical_memory_bytes(); memory > 0) {
            uint64_t fit = memory / 2 / sizeof(fdt_entry);
            if (fit < entries) entries = fit;
        }
        return static_cast<uint32_t>(entries);
    }();
    return limit;
}

}  // namespace

void fdt_out_of_memory() {
    clear_terminal_lines();
    err_printf("%s: out of memory\n", program_name);
    cleanup_and_exit(1);
}

uint64_t fdt_room() {
    return capacity_limit() - uint64_t{num_fdt};
}

void fdt_insert(double frequency, int duration, const char* text, int index) {
    if (fdt == nullptr) {
        fdt = static_cast<fdt_entry*>(calloc(growth_step, sizeof(fdt_entry)));
        if (fdt == nullptr) fdt_out_of_memory();
        fdt_capacity = growth_step;
        num_fdt = 0;
    }
    if (num_fdt + 1 >= fdt_capacity) {
        if (fdt_capacity + growth_step > capacity_limit()) {
            fdt_free();
            fdt_out_of_memory();
        }
        uint32_t capacity = fdt_capacity + growth_step;
        auto* grown = static_cast<fdt_entry*>(realloc(fdt, capacity * sizeof(fdt_entry)));
        if (grown == nullptr) {
            fdt_free();  // the old array is still whole
            fdt_out_of_memory();
        }
        std::fill_n(grown + fdt_capacity, growth_step, fdt_entry{});
        fdt = grown;
        fdt_capacity = capacity;
    }
    if (index < 0 || static_cast<uint32_t>(index) > num_fdt) {
        clear_terminal_lines();
        err_printf("%s: internal error: i %d num_fdt %d\n", program_name, index, static_cast<int>(num_fdt));
        fdt_free();
        cleanup_and_exit(1);
    }
    char* copy = nullptr;
    if (text != nullptr) {
        copy = strdup(text);
        if (copy == nullptr) {
            fdt_free();
            fdt_out_of_memory();
        }
    }
    auto at = static_cast<uint32_t>(index);
    if (at < num_fdt) memmove(fdt + at + 1, fdt + at, (num_fdt - at) * sizeof(fdt_entry));
    fdt[at] = fdt_entry{frequency, duration, copy};
    ++num_fdt;
}

void fdt_free() {
    if (fdt != nullptr) {
        for (uint32_t i = 0; i < num_fdt; ++i) free(fdt[i].text);
        free(fdt);
        fdt = nullptr;
    }
    num_fdt = 0;
    fdt_pos = 0;
    fdt_capacity = 0;
}

namespace {

const reset_step fdt_free_step{fdt_free};

}  // namespace
