#include "schedule/frequency_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "schedule/schedule_test_support.h"

namespace {

class frequency_files : public schedule_test {
protected:
    void SetUp() override {
        schedule_test::SetUp();
        dir_ = tq_test::unique_temp_path("tonquel-ff").string();
        std::filesystem::create_directory(dir_);
        finish_offsets();
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        schedule_test::TearDown();
    }
    std::string file(const std::string& content) {
        std::string path = dir_ + "/f" + std::to_string(count_++) + ".txt";
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string dir_;
    int count_ = 0;
};

TEST_F(frequency_files, line_classification_and_durations) {
    std::string path = file(
        "440\n"
        "440,2m\n"
        "  440, 10\n"
        "440,0\n"
        "440,\n"
        ".5,10\n"
        "440 10\n"
        "440, 10 # comment\n"
        "\n"
        " \t \n"
        "#Frequency, Duration\n"
        "abc,5\n"
        "\t+20,59m59\n"
        "-5,1\n"
        "1e3x, 7\n");
    EXPECT_EQ(read_frequency_file(path.c_str()), 0);
    EXPECT_EQ(table(),
              "440/180 440/120 440/10 440/180 440/180 #.5,10\n440/180 440/600 #\n# \t \n##Frequency, Duration\n"
              "#abc,5\n20/3599 1000/7 ");
    EXPECT_EQ(err(), "tonquel: frequency -5 < minimum of 0: ignored\n");
    EXPECT_EQ(fdt_pos, num_fdt);
}

TEST_F(frequency_files, empty_file_adds_nothing) {
    EXPECT_EQ(read_frequency_file(file("").c_str()), 0);
    EXPECT_EQ(num_fdt, 0u);
}

TEST_F(frequency_files, last_line_without_line_end_fails_after_the_earlier_lines) {
    std::string path = file("440,1\n# c\n550,2");
    EXPECT_EQ(read_frequency_file(path.c_str()), -1);
    EXPECT_EQ(table(), "440/1 ## c\n");
    EXPECT_EQ(err(), "tonquel: " + path + ": line too long or data file corrupted: 550,2\n");
}

TEST_F(frequency_files, longest_line_is_8191_characters_and_its_line_end) {
    std::string longest = "#" + std::string(8190, 'x') + "\n";
    EXPECT_EQ(read_frequency_file(file(longest + "440,1\n").c_str()), 0);
    EXPECT_EQ(num_fdt, 2u);
    EXPECT_EQ(strlen(fdt[0].text), 8192u);

    std::string too_long = "#" + std::string(8191, 'y') + "\n";
    std::string path = file("440,1\n" + too_long);
    EXPECT_EQ(read_frequency_file(path.c_str()), -1);
    EXPECT_EQ(err(), "tonquel: " + path + ": line too long or data file corrupted: " + too_long.substr(0, 8192) +
                         "\n");
}

TEST_F(frequency_files, a_byte_order_mark_before_the_first_line_is_skipped_and_nowhere_else) {
    const std::string mark = "\xEF\xBB\xBF";
    EXPECT_EQ(read_frequency_file(file(mark + "440,10\n" + mark + "550,2\n").c_str()), 0);
    EXPECT_EQ(table(), "440/10 #" + mark + "550,2\n");

    // The mark takes none of the first line's 8191 characters.
    fdt_free();
    const std::string longest = "#" + std::string(8190, 'x') + "\n";
    EXPECT_EQ(read_frequency_file(file(mark + longest + "440,1\n").c_str()), 0);
    ASSERT_EQ(num_fdt, 2u);
    EXPECT_EQ(fdt[0].text, longest);

    // Only the whole mark: its first two bytes begin a comment line.
    fdt_free();
    EXPECT_EQ(read_frequency_file(file("\xEF\xBB" "440,1\n").c_str()), 0);
    EXPECT_EQ(table(), "#\xEF\xBB" "440,1\n");
}

TEST_F(frequency_files, a_nul_in_a_line_fails_showing_the_text_before_it) {
    std::string path = file(std::string("440,1\n55\0,1\n", 12));
    EXPECT_EQ(read_frequency_file(path.c_str()), -1);
    EXPECT_EQ(err(), "tonquel: " + path + ": line too long or data file corrupted: 55\n");
    EXPECT_EQ(table(), "440/1 ");
}

TEST_F(frequency_files, unopenable_file_reports_on_standard_error_only) {
    tq_test::captured_stream session;
    session_file = session.file();
    std::string missing = dir_ + "/missing.txt";
    EXPECT_EQ(read_frequency_file(missing.c_str()), -1);
    EXPECT_EQ(read_frequency_file(dir_.c_str()), -1);  // a directory opens but cannot be read
    EXPECT_EQ(num_fdt, 0u);
    session_file = nullptr;
    EXPECT_EQ(session.text(), "");
    EXPECT_EQ(err(), "tonquel: " + missing + ": " + std::string(strerror(ENOENT)) + "\ntonquel: " + dir_ + ": " +
                         std::string(strerror(tq_test::directory_open_error)) + "\n");
}

TEST_F(frequency_files, tone_lines_written_by_a_session_read_back_exactly) {
    std::string path = file("#Frequency, Duration\n  1234.57, 180\n  0.3125, -5\n  20000, 3600\n# added 441, 180\n");
    EXPECT_EQ(read_frequency_file(path.c_str()), 0);
    EXPECT_EQ(table(), "##Frequency, Duration\n1234.5699999999999/180 0.3125/-5 20000/3600 ## added 441, 180\n");
}

}  // namespace
