#include "schedule/sweep.h"

#include <cmath>

#include "log/log.h"
#include "process/exit.h"
#include "schedule/admission.h"
#include "schedule/fdt.h"

namespace {

// Adding the increment changes nothing at the largest magnitude the series
// passes (one of its ends), so the series could never reach its end.
bool increment_too_small(double start, double end, double increment) {
    double largest = std::fabs(start) > std::fabs(end) ? start : end;
    return largest + increment == largest || start + increment == start;
}

}  // namespace

int sweep(double sweep_start, double sweep_end, double sweep_increment, int sweep_duration) {
    if (sweep_increment == 0.0) {
        log_err("%s: sweep_increment == 0.0\n", program_name);
        return -1;
    }
    double span = sweep_end - sweep_start;
    if ((span < 0 && sweep_increment > 0) || (span > 0 && sweep_increment < 0)) sweep_increment = -sweep_increment;
    if ((sweep_increment < 0 && sweep_start + sweep_increment < sweep_end) ||
        (sweep_increment > 0 && sweep_start + sweep_increment > sweep_end)) {
        log_err("%s: sweep_increment too big\n", program_name);
        return -1;
    }
    if (increment_too_small(sweep_start, sweep_end, sweep_increment)) {
        log_err("%s: sweep_increment too small\n", program_name);
        return -1;
    }
    // A series longer than memory allows ends at once, not after filling it.
    double steps = std::fabs((sweep_end - sweep_start) / sweep_increment) + 2;
    if (steps * num_offsets > static_cast<double>(fdt_room())) {
        fdt_free();
        fdt_out_of_memory();
    }
    double f = sweep_start;
    do {
        add_frequency(f, sweep_duration);
        double next = f + sweep_increment;
        if (next == f) {  // a rounding tie the check above cannot foresee
            log_err("%s: sweep_increment too small\n", program_name);
            return -1;
        }
        f = next;
        check_interrupt();
    } while ((sweep_increment > 0 && f < sweep_end) || (sweep_increment < 0 && f > sweep_end));
    add_frequency(sweep_end, sweep_duration);
    return 0;
}
