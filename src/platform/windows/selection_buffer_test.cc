#include "platform/windows/selection_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using outcome = chooser_result::outcome;

chooser_result read(const std::string& bytes) {
    return read_selection_buffer(bytes.data(), bytes.size());
}

TEST(selection_buffer, one_file_is_its_full_path) {
    auto result = read(std::string("C:\\tones\\a.txt\0\0junk", 20));
    EXPECT_EQ(result.status, outcome::chosen);
    EXPECT_EQ(result.strings, (std::vector<std::string>{"C:\\tones\\a.txt"}));
}

TEST(selection_buffer, several_files_are_the_directory_then_the_names_in_order) {
    auto result = read(std::string("C:\\tones\0b.txt\0a.txt\0\0", 23));
    EXPECT_EQ(result.status, outcome::chosen);
    EXPECT_EQ(result.strings, (std::vector<std::string>{"C:\\tones", "b.txt", "a.txt"}));
}

TEST(selection_buffer, an_empty_or_unterminated_buffer_is_no_selection) {
    EXPECT_EQ(read(std::string(8, '\0')).status, outcome::cancelled);
    EXPECT_EQ(read("").status, outcome::cancelled);
    EXPECT_EQ(read("C:\\no-terminator").status, outcome::cancelled);
    // A list cut off by the end of the buffer is never read past it.
    EXPECT_EQ(read(std::string("C:\\tones\0a.txt\0b.t", 18)).status, outcome::cancelled);
}

}  // namespace
