#include "engine/clock/passes.h"

#include "engine/sound/render.h"
#include "engine/clock/stop_time.h"
#include "log/log.h"
#include "process/release.h"
#include "process/settings.h"
#include "schedule/entry_parts.h"
#include "schedule/fdt.h"

namespace {

unsigned long long passes_begun = 1;
// The sound of one pass, counted once a pass: keys change it only a little.
int64_t pass_frames = -1;
const reset_step passes_reset{[] {
    passes_begun = 1;
    pass_frames = -1;
}};

int64_t schedule_sound_frames() {
    int64_t seconds = 0;
    for (uint32_t i = 0; i < num_fdt; ++i)
        if (fdt[i].text == nullptr) seconds += entry_sound_seconds(fdt[i].duration);
    return seconds * sample_rate;
}

// Another pass of a schedule that sounds nothing would only print it again,
// for ever with --loop alone.
bool schedule_sounds() {
    for (uint32_t i = 0; i < num_fdt; ++i)
        if (fdt[i].text == nullptr && entry_sound_seconds(fdt[i].duration) > 0) return true;
    return false;
}

unsigned long long passes_asked() {
    return static_cast<unsigned long long>(settings.passes);
}

}  // namespace

unsigned long long pass_playing() {
    return passes_begun;
}

unsigned long long passes_of_run() {
    return passes_asked();
}

bool another_pass_follows() {
    if (passes_asked() != 0 && passes_begun >= passes_asked()) return false;
    return !stop_time_has_come() && schedule_sounds();
}

int64_t frames_of_passes_to_come() {
    if (passes_asked() == 1 || (passes_asked() != 0 && passes_begun >= passes_asked())) return 0;
    constexpr int64_t endless = INT64_MAX / 4;
    if (passes_asked() == 0) return endless;
    if (pass_frames < 0) pass_frames = schedule_sound_frames();
    const int64_t passes = static_cast<int64_t>(passes_asked() - passes_begun);
    return pass_frames > endless / passes ? endless : pass_frames * passes;
}

bool another_pass() {
    if (!another_pass_follows()) return false;
    const unsigned long long asked = passes_asked();
    ++passes_begun;
    pass_frames = -1;
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
