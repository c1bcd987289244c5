#include "engine/passes.h"

#include "engine/stop_time.h"
#include "log/log.h"
#include "process/release.h"
#include "process/settings.h"
#include "schedule/entry_parts.h"
#include "schedule/fdt.h"

namespace {

unsigned long long passes_begun = 1;
const reset_step passes_reset{[] { passes_begun = 1; }};

// Another pass of a schedule that sounds nothing would only print it again,
// for ever with --loop alone.
bool schedule_sounds() {
    for (uint32_t i = 0; i < num_fdt; ++i)
        if (fdt[i].text == nullptr && entry_sound_seconds(fdt[i].duration) > 0) return true;
    return false;
}

}  // namespace

bool another_pass() {
    const unsigned long long asked = static_cast<unsigned long long>(settings.passes);
    if (asked != 0 && passes_begun >= asked) return false;
    if (stop_time_has_come() || !schedule_sounds()) return false;
    ++passes_begun;
    if (asked != 0)
        log_out("# pass %llu of %llu\n", passes_begun, asked);
    else
        log_out("# pass %llu\n", passes_begun);
    return true;
}

uint64_t frames_of_all_passes(uint64_t frames_of_one_pass) {
    const uint64_t passes = settings.passes > 0 ? static_cast<uint64_t>(settings.passes) : 1;
    if (frames_of_one_pass > UINT64_MAX / passes) return UINT64_MAX;
    return frames_of_one_pass * passes;
}
