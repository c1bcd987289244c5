#pragma once

// The exit releases whatever is open in one fixed order without knowing who
// owns it: each owner registers, once at start-up and in its own source file,
// how its resource is released. The same list forgets what an earlier run
// left behind when runs follow each other in one process (the tests).

// pending_records: lines gathered for the files of the record and not yet
// handed to them, which go out before anything is closed. control: the
// clients of --control hear how the run ended once everything else is done;
// web: the page's server, a client of the control channel, then shows it.
enum class release_order { pending_records, input_device, output_device, sound_export, session, mor_output, terminal, sleep_lock, control, web, count };

// A namespace-scope object of the owner's: release frees the resource if it
// is open and marks it closed; reset (may be null) forgets it between runs.
struct release_step {
    release_step(release_order order, void (*release)(), void (*reset)() = nullptr);
};

// Run state that is never released, only forgotten between runs.
struct reset_step {
    explicit reset_step(void (*reset)());
};

// What an owner does first when the run is interrupted, before the release
// steps: an export that was not finished says it was not written.
struct interrupt_step {
    explicit interrupt_step(void (*on_interrupt)());
};

// The release steps in their order.
void release_all();
// The one release step of order.
void release_only(release_order order);
// Every interrupt step.
void interrupt_all();
// Every reset step, release steps' included.
void reset_all();
