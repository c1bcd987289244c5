// Replays the saved inputs of the whole-run fuzz target
// (fuzz/regressions/whole_run) through the same harness and the same checks,
// so that a fixed fault stays fixed: among them the channel frequencies just
// under the frame rate and near the largest double that once read outside
// the wavetables.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/captured_stream.h"
#include "support/run_harness.h"
#include "support/whole_run_input.h"

namespace {

namespace fs = std::filesystem;

TEST(whole_run_replay, saved_inputs_end_cleanly_and_keep_what_a_run_promises) {
    const fs::path saved = fs::path(TONQUEL_SOURCE_DIR) / "fuzz" / "regressions" / "whole_run";
    tq_test::temp_dir dir;
    int replayed = 0;
    for (const auto& item : fs::directory_iterator(saved)) {
        std::ifstream in(item.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto input = tq_test::parse_whole_run_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        tq_test::captured_stream streams;
        sim_platform sim;
        const int status = tq_test::run_whole_input(input, sim, streams.file(), streams.file());
        EXPECT_EQ(tq_test::whole_run_fault(input, status, sim), "") << item.path();
        ++replayed;
    }
    EXPECT_GE(replayed, 4);
}

}  // namespace
