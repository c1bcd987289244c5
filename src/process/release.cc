#include "process/release.h"

#include <cstddef>

namespace {

using step_function = void (*)();

constexpr size_t slot_count = static_cast<size_t>(release_order::count);
// Room for every owner's reset; the registrations run before main, so a
// full table is a programming error found by the first test run.
constexpr size_t reset_capacity = 32;

// Constant-initialised, so registrations from any source file find them
// ready whatever the order of start-up.
constinit step_function release_steps[slot_count] = {};
constinit step_function reset_steps[reset_capacity] = {};
constinit size_t reset_count = 0;
constexpr size_t interrupt_capacity = 4;
constinit step_function interrupt_steps[interrupt_capacity] = {};
constinit size_t interrupt_count = 0;

void add_reset(step_function reset) {
    if (reset == nullptr) return;
    if (reset_count == reset_capacity) __builtin_trap();
    reset_steps[reset_count++] = reset;
}

}  // namespace

release_step::release_step(release_order order, void (*release)(), void (*reset)()) {
    release_steps[static_cast<size_t>(order)] = release;
    add_reset(reset);
}

reset_step::reset_step(void (*reset)()) {
    add_reset(reset);
}

interrupt_step::interrupt_step(void (*on_interrupt)()) {
    if (interrupt_count == interrupt_capacity) __builtin_trap();
    interrupt_steps[interrupt_count++] = on_interrupt;
}

void release_only(release_order order) {
    if (step_function release = release_steps[static_cast<size_t>(order)]) release();
}

void interrupt_all() {
    for (size_t i = 0; i < interrupt_count; ++i) interrupt_steps[i]();
}

void release_all() {
    for (step_function release : release_steps)
        if (release != nullptr) release();
}

void reset_all() {
    for (size_t i = 0; i < reset_count; ++i) reset_steps[i]();
}
