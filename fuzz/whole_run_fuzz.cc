// libFuzzer target: the whole program in-process on the simulated platform,
// from a fuzzed command line with a key script and a frequency file (the
// input's layout is in tests/support/whole_run_input.h), playback and export
// alike. Each run is bounded by the virtual clock and ends on its own; what
// must hold after it is checked there too.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/sim/sim_platform.h"
#include "support/whole_run_input.h"

namespace {

FILE* null_stream = nullptr;
std::filesystem::path own_folder;
std::filesystem::path started_in;

}  // namespace

// The table may use half of what the system says it has: a fuzzed sweep
// could otherwise fill gigabytes before it plays. Wrapped in at link time
// (fuzz/build.sh).
extern "C" uint64_t __wrap__Z21physical_memory_bytesv() {
    return uint64_t{16} << 20;
}

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    null_stream = fopen("/dev/null", "w");
    if (null_stream == nullptr) abort();
    // Every file a run writes (the session file, a MOR file, the frequency
    // file) lies in a folder of this process's own, on a memory file system
    // if there is one.
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    own_folder = std::string(dir) + "/tonquel_whole_run_" + std::to_string(getpid());
    std::filesystem::create_directories(own_folder);
    started_in = std::filesystem::current_path();
    atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(own_folder, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const tq_test::whole_run_input input = tq_test::parse_whole_run_input(data, size);
    if (!input.runnable) return -1;  // not added to the corpus
    sim_platform sim;
    // Only for the run: libFuzzer's own paths stay as they were given.
    std::filesystem::current_path(own_folder);
    const int status = tq_test::run_whole_input(input, sim, null_stream, null_stream);
    std::filesystem::current_path(started_in);
    const std::string fault = tq_test::whole_run_fault(input, status, sim);
    if (!fault.empty()) {
        fprintf(stderr, "whole run: %s\n", fault.c_str());
        abort();
    }
    return 0;
}
