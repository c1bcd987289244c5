#pragma once

#include <cstdint>

// --at: once the schedule is built, the run waits until the local clock
// shows the time asked for, and then plays.

// Where the wait stands, for whatever tells the run's state ("waiting to
// start").
struct start_wait_state {
    bool waiting = false;
    int start_at = -1;         // seconds from local midnight
    int64_t seconds_left = 0;  // real ones, as the countdown shows them
};
const start_wait_state& start_wait();

// Waits for settings.start_at, if set: the countdown on the status line, q
// and Ctrl-C end the run, the machine is kept awake; a key that acts on the
// playing tone says on standard error that it waits for the start. The
// wait and the start go into the record as comment lines; a start found
// past (the machine slept, or was busy) comes at once and says how late it
// is, unless the window up to --until has closed meanwhile or, without
// --until, it is more than 12 hours late: the run then waits for the next
// such time, and says so on standard error and in the record.
void wait_for_start_time();
