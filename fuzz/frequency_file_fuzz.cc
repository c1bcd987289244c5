// libFuzzer target: a whole frequency file read into the schedule.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/run.h"
#include "log/log.h"
#include "platform/sim/sim_platform.h"
#include "process/exit.h"
#include "process/state.h"
#include "schedule/admission.h"
#include "schedule/fdt.h"
#include "schedule/frequency_file.h"

namespace {

sim_platform* sim = nullptr;
std::string input_path;

// Every entry the reader leaves behind must be one the play loop can take:
// tones within the admission limits, comments ending in their line end.
void check_schedule() {
    if (fdt_pos != num_fdt) abort();
    if (num_fdt > 0 && (fdt == nullptr || num_fdt >= fdt_capacity)) abort();
    for (uint32_t i = 0; i < num_fdt; ++i) {
        const fdt_entry& entry = fdt[i];
        if (entry.text != nullptr) {
            size_t length = strlen(entry.text);
            if (length == 0 || length > 8192 || entry.text[length - 1] != '\n') abort();
            if (entry.frequency != 0.0 || entry.duration != 0) abort();
        } else {
            // One offset of 0: the admitted frequency itself.
            if (!(entry.frequency >= 0.0 && entry.frequency <= highest_frequency)) abort();
            if (entry.duration == 0 || entry.duration > longest_duration) abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    sim = new sim_platform;
    current_platform = &sim->services();
    FILE* null_stream = fopen("/dev/null", "w");
    if (null_stream == nullptr) abort();
    out_stream = null_stream;
    err_stream = null_stream;
    // One file per process, so parallel fuzzing jobs do not share it. A
    // memory file system if there is one: rewriting a file on a disk file
    // system each iteration waits on the disk and cuts the rate tenfold.
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    input_path = std::string(dir) + "/tonquel_fuzz_" + std::to_string(getpid()) + ".txt";
    atexit([] { unlink(input_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(input_path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);

    fdt_free();
    reset_offsets();
    finish_offsets();
    pending_signal = 0;
    try {
        read_frequency_file(input_path.c_str());
        check_schedule();
    } catch (const run_exit&) {
        // Out of memory ends the run; the harness just starts over.
    }
    fdt_free();
    return 0;
}
