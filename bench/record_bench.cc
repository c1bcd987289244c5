// What keeping the record costs per tone: the tone line through both
// channels (gathered, and flushed line by line), the MOR block of a 10-second capture, and the synchronisation of
// both files at the tone's start, each against the same writes left in the C
// library's buffers as they were before every write was flushed. The files
// lie in the system's temporary folder, on whatever disk holds it.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "log/log.h"
#include "log/record_file.h"
#include "platform/os.h"
#include "process/state.h"

namespace {

constexpr int block_frames = 10000;

struct record_files {
    std::string session_name = (std::filesystem::temp_directory_path() / "tonquel-bench-session").string();
    std::string mor_name = (std::filesystem::temp_directory_path() / "tonquel-bench-mor").string();
    FILE* sink = std::fopen("/dev/null", "w");
    FILE* session = std::fopen(session_name.c_str(), "w");
    FILE* mor = std::fopen(mor_name.c_str(), "w");
    record_state mor_state{mor_name.c_str(), true};

    record_files() {
        reset_log_state();
        out_stream = sink;
        err_stream = sink;
        session_file = session;
    }
    ~record_files() {
        reset_log_state();
        std::fclose(sink);
        std::fclose(session);
        std::fclose(mor);
        std::filesystem::remove(session_name);
        std::filesystem::remove(mor_name);
    }
    bool ready() const { return sink != nullptr && session != nullptr && mor != nullptr; }
};

// As the run writes it: gathered, and handed to the files where the run waits.
void tone_line(benchmark::State& state) {
    record_files files;
    if (!files.ready()) return state.SkipWithError("cannot open the files");
    for (auto _ : state) log_out("  %g, %d\n", 440.0, 180);
    flush_records();
}
BENCHMARK(tone_line)->Unit(benchmark::kMicrosecond);

// Each line handed over and flushed at once, as a wait after every line would.
void tone_line_flushed(benchmark::State& state) {
    record_files files;
    if (!files.ready()) return state.SkipWithError("cannot open the files");
    for (auto _ : state) {
        log_out("  %g, %d\n", 440.0, 180);
        flush_records();
    }
}
BENCHMARK(tone_line_flushed)->Unit(benchmark::kMicrosecond);

void tone_line_unflushed(benchmark::State& state) {
    record_files files;
    if (!files.ready()) return state.SkipWithError("cannot open the files");
    for (auto _ : state) {
        std::fprintf(files.sink, "  %g, %d\n", 440.0, 180);
        std::fprintf(files.session, "  %g, %d\n", 440.0, 180);
    }
}
BENCHMARK(tone_line_unflushed)->Unit(benchmark::kMicrosecond);

// Starts a file afresh, so that the runs do not fill the disk.
void empty(FILE* file) {
    std::rewind(file);
    truncate_file(file, 0);
}

void write_block(FILE* mor) {
    for (int i = 0; i < block_frames; ++i) std::fprintf(mor, "%g %d %d %d\n", 440.0, i, -1234, 567);
}

void mor_blocks(benchmark::State& state, bool flushed) {
    record_files files;
    if (!files.ready()) return state.SkipWithError("cannot open the files");
    for (auto _ : state) {
        state.PauseTiming();
        empty(files.mor);
        state.ResumeTiming();
        write_block(files.mor);
        if (flushed) end_record_write(files.mor, files.mor_state, true);
    }
}

void mor_block(benchmark::State& state) {
    mor_blocks(state, true);
}
BENCHMARK(mor_block)->Unit(benchmark::kMicrosecond);

void mor_block_unflushed(benchmark::State& state) {
    mor_blocks(state, false);
}
BENCHMARK(mor_block_unflushed)->Unit(benchmark::kMicrosecond);

// A tone's record written, then both files pushed to the disk, as at the
// start of the next tone.
void tone_start_sync(benchmark::State& state) {
    record_files files;
    if (!files.ready()) return state.SkipWithError("cannot open the files");
    for (auto _ : state) {
        state.PauseTiming();
        empty(files.session);
        empty(files.mor);
        log_out("  %g, %d\n", 440.0, 180);
        write_block(files.mor);
        end_record_write(files.mor, files.mor_state, true);
        state.ResumeTiming();
        sync_record(session_file, session_record);
        sync_record(files.mor, files.mor_state);
    }
}
BENCHMARK(tone_start_sync)->Unit(benchmark::kMillisecond);

}  // namespace
