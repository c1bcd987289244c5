// An unattended run of eight hours on the simulated platform, in seconds:
// keys, pauses, pulsed tails, capture and a session record all the way, and
// neither memory nor open files grow from the first hour to the last.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

constexpr int64_t t0 = sim_platform::start_ms;
constexpr int64_t minute_ms = 60 * 1000;
constexpr int64_t hour_ms = 60 * minute_ms;

// AddressSanitizer keeps freed memory back from reuse for a while, so that
// resident memory grows there by design; its leak check stands in.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool memory_is_held_back = true;
#else
constexpr bool memory_is_held_back = false;
#endif

// What the process holds at one moment. The counts come from /proc on Linux;
// elsewhere they stay -1 and only the run itself is checked.
struct holdings {
    int64_t at_ms;
    int64_t resident_pages = -1;
    int64_t open_files = -1;
};

holdings look(int64_t at_ms) {
    holdings now{at_ms};
#if !defined(_WIN32)  // under Wine, /proc would show Wine's own process
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0;
    if (statm >> size >> now.resident_pages) {
        std::error_code error;
        int64_t files = 0;
        for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
             entry.increment(error))
            ++files;
        if (!error) now.open_files = files;
    } else {
        now.resident_pages = -1;
    }
#endif
    return now;
}

size_t count_lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(soak, eight_hours_of_keys_pauses_pulses_and_capture_hold_steady) {
    tq_test::temp_dir dir;
    sim_platform sim;
    sim.audio.record_samples = false;
    // The test's own records must not grow while it measures.
    sim.audio.outputs.reserve(4096);
    sim.audio.inputs.reserve(4096);
    std::vector<holdings> seen;
    seen.reserve(4096);
    // Read when each tone's recording stops, just before its block is written.
    sim.audio.input_signal = [&](int64_t ms) {
        if (ms == sim.audio.inputs.back().started_ms) seen.push_back(look(ms));
        return std::pair<int16_t, int16_t>{static_cast<int16_t>(ms % 7), -3};
    };
    // Tones added (n, +, -), skipped (s) and played again (b), and three
    // pauses of half an hour, ended by a key that only resumes.
    sim.keys.script = {
        {t0 + 1 * minute_ms, 'n'},
        {t0 + 2 * minute_ms, '+'},
        {t0 + 10 * minute_ms, 'p'},
        {t0 + 40 * minute_ms, 'x'},
        {t0 + 90 * minute_ms, 's'},
        {t0 + 3 * hour_ms, 'p'},
        {t0 + 3 * hour_ms + 30 * minute_ms, 'x'},
        {t0 + 4 * hour_ms, 'b'},
        {t0 + 5 * hour_ms, 'p'},
        {t0 + 5 * hour_ms + 30 * minute_ms, 'x'},
        {t0 + 6 * hour_ms, '-'},
        {t0 + 7 * hour_ms, 's'},
    };

    std::vector<std::string> args{"-r", "-m", "mor.txt", "-p", "10,5"};
    auto add = [&](int count, const char* pair) { args.insert(args.end(), static_cast<size_t>(count), pair); };
    add(14, "300,20m");  // steady, then a pulsed tail of 5 s: two openings each
    add(20, "500,3m");
    add(20, "700,30");
    add(30, "900,3");  // shorter than the tail: pulsed throughout
    tq_test::run_output result = tq_test::run(sim, args);

    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_GE(sim.now_ms() - t0, 8 * hour_ms);
    EXPECT_LE(sim.now_ms() - t0, 9 * hour_ms);
    EXPECT_EQ(sim.audio.open_output_devices, 0);
    EXPECT_EQ(sim.audio.open_input_devices, 0);

    // The record is whole: the session file holds what standard output
    // showed, behind the announcement, and the MOR file every frame captured.
    auto sessions = tq_test::files_starting_with("session_");
    ASSERT_EQ(sessions.size(), 1u);
    std::string session = tq_test::read_file(sessions[0]);
    EXPECT_EQ("\n#Recording session in file: " + sessions[0] + "\n\n" + session, result.out);
    for (const char* key_line : {"#pause\n", "#back to previous frequency\n", "#skip to next frequency in list\n",
                                 "# added 301, 180\n", "# added 299, 180\n"})
        EXPECT_NE(session.find(key_line), std::string::npos) << key_line;
    uint64_t frames = 0;
    for (const auto& input : sim.audio.inputs) frames += input.frames_recorded;
    EXPECT_EQ(count_lines(tq_test::read_file("mor.txt")), frames);
    EXPECT_EQ(sim.audio.inputs.size(), sim.audio.outputs.size());
    EXPECT_EQ(seen.size(), sim.audio.inputs.size());

    // From the end of the first hour, when every buffer of the run is in
    // use, to the last tone: no growth. Resident memory may move by a few
    // pages of the C library's own.
    auto first_hour = std::find_if(seen.begin(), seen.end(), [](const holdings& h) { return h.at_ms >= t0 + hour_ms; });
    ASSERT_NE(first_hour, seen.end());
    ASSERT_GT(seen.end() - first_hour, 50);
    if (first_hour->resident_pages < 0) GTEST_SKIP() << "no /proc here: memory and files not counted";
    auto by_memory = [](const holdings& a, const holdings& b) { return a.resident_pages < b.resident_pages; };
    auto by_files = [](const holdings& a, const holdings& b) { return a.open_files < b.open_files; };
    auto most_memory = std::max_element(first_hour, seen.end(), by_memory);
    auto [fewest_files, most_files] = std::minmax_element(first_hour, seen.end(), by_files);
    if (!memory_is_held_back) {
        EXPECT_LE(most_memory->resident_pages, first_hour->resident_pages + 16)
            << "resident pages " << first_hour->resident_pages << " after the first hour, "
            << most_memory->resident_pages << " at minute " << (most_memory->at_ms - t0) / minute_ms;
    }
    EXPECT_EQ(most_files->open_files, fewest_files->open_files)
        << "open files from " << fewest_files->open_files << " to " << most_files->open_files;
    EXPECT_EQ(seen.back().open_files, first_hour->open_files);
    EXPECT_GE(seen.back().at_ms - t0, 7 * hour_ms);
}

}  // namespace
