// Replays the saved fuzzing inputs in fuzz/regressions/ through the same code
// and the same checks as the fuzz targets, so a fixed fault stays fixed.

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "schedule/duration.h"
#include "schedule/frequency_file.h"
#include "schedule/schedule_test_support.h"

namespace {

namespace fs = std::filesystem;

fs::path regression_dir(const char* target) {
    return fs::path(TONQUEL_SOURCE_DIR) / "fuzz" / "regressions" / target;
}

std::vector<fs::path> regression_files(const char* target) {
    std::vector<fs::path> files;
    for (const auto& item : fs::directory_iterator(regression_dir(target)))
        if (item.is_regular_file()) files.push_back(item.path());
    return files;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the reader may leave in the table, with the single offset 0.
void expect_playable_schedule() {
    EXPECT_EQ(fdt_pos, num_fdt);
    for (uint32_t i = 0; i < num_fdt; ++i) {
        const fdt_entry& entry = fdt[i];
        if (entry.text != nullptr) {
            size_t length = strlen(entry.text);
            ASSERT_GT(length, 0u) << "entry " << i;
            EXPECT_LE(length, 8192u) << "entry " << i;
            EXPECT_EQ(entry.text[length - 1], '\n') << "entry " << i;
        } else {
            EXPECT_GE(entry.frequency, 0.0) << "entry " << i;
            EXPECT_LE(entry.frequency, highest_frequency) << "entry " << i;
            EXPECT_NE(entry.duration, 0) << "entry " << i;
            EXPECT_LE(entry.duration, longest_duration) << "entry " << i;
        }
    }
}

using fuzz_regression = schedule_test;

TEST_F(fuzz_regression, duration_inputs_keep_their_properties) {
    for (const fs::path& file : regression_files("duration")) {
        SCOPED_TRACE(file.filename().string());
        std::string text = contents(file);
        const char* c_text = text.c_str();
        int32_t plain = read_int(c_text);
        int32_t whole = parse_duration(c_text);
        if (strpbrk(c_text, "hHmM") == nullptr) {
            EXPECT_EQ(whole, plain);
        }
        errno = 0;
        long long reference = strtoll(c_text, nullptr, 10);
        if (errno == 0 && reference >= INT32_MIN && reference <= INT32_MAX) {
            EXPECT_EQ(plain, reference);
        } else if (reference > 0) {
            EXPECT_EQ(plain, INT32_MAX);
        } else if (reference < 0) {
            EXPECT_EQ(plain, INT32_MIN);
        }
    }
}

TEST_F(fuzz_regression, frequency_file_inputs_leave_a_playable_schedule) {
    for (const fs::path& file : regression_files("frequency_file")) {
        SCOPED_TRACE(file.filename().string());
        fdt_free();
        reset_offsets();
        finish_offsets();
        int status = 0;
        EXPECT_EQ(exit_status_of([&] { status = read_frequency_file(file.string().c_str()); }), -1);
        EXPECT_TRUE(status == 0 || status == -1);
        expect_playable_schedule();
    }
}

// The boundary inputs among them, with their exact outcomes.
TEST_F(fuzz_regression, saved_boundary_files_read_as_expected) {
    finish_offsets();
    auto read = [](const char* name) {
        fdt_free();
        return read_frequency_file((regression_dir("frequency_file") / name).string().c_str());
    };
    EXPECT_EQ(read("line_of_8191"), 0);
    EXPECT_EQ(num_fdt, 3u);
    EXPECT_EQ(read("line_of_8192"), -1);
    EXPECT_EQ(num_fdt, 1u);
    EXPECT_EQ(read("nul_in_line"), -1);
    EXPECT_EQ(table(), "440/1 ");
    EXPECT_EQ(read("no_final_newline"), -1);
    EXPECT_EQ(table(), "440/1 ");
    // Out-of-range numbers and not-a-number are rejected, saturated
    // durations never wrap into admitted ones, a line starting with a letter
    // is a comment, and a hexadecimal frequency reads as atof reads it.
    EXPECT_EQ(read("extreme_numbers"), 0);
    EXPECT_EQ(table(), "#nan,1\n0/1 1/-2147483648 20000/3600 16/1 ");
}

}  // namespace
