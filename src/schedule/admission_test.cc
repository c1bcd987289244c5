#include "schedule/admission.h"

#include <cmath>

#include "schedule/schedule_test_support.h"

using admission = schedule_test;

TEST_F(admission, offsets_are_unique_sorted_and_expand_each_frequency) {
    add_offset(3);
    add_offset(1);
    add_offset(2);
    EXPECT_EQ(add_offset(1), 3);  // already held: no change
    finish_offsets();
    add_frequency(100, 0);
    add_frequency(200, 5);
    EXPECT_EQ(table(), "101/180 102/180 103/180 201/5 202/5 203/5 ");
    EXPECT_EQ(fdt_pos, 6u);
}

TEST_F(admission, no_offsets_means_the_frequency_itself) {
    finish_offsets();
    add_frequency(440, 10);
    EXPECT_EQ(table(), "440/10 ");
}

TEST_F(admission, brackets_and_a_duplicate_negative_zero) {
    add_offset(5);
    add_offset(-5);
    add_offset(-5);  // -o -5 after -b 5
    EXPECT_EQ(add_offset(-0.0), 3);
    EXPECT_EQ(add_offset(0.0), 3);
    finish_offsets();
    add_frequency(440, 10);
    EXPECT_EQ(table(), "435/10 440/10 445/10 ");
}

TEST_F(admission, the_set_holds_200) {
    for (int i = 0; i < 200; ++i) EXPECT_EQ(add_offset(i), i + 1);
    EXPECT_EQ(add_offset(7), 200);
    EXPECT_EQ(err(), "");
    EXPECT_EQ(add_offset(200), -1);
    EXPECT_EQ(err(), "tonquel: too many offsets/brackets\n");
    EXPECT_EQ(num_offsets, 200);
}

TEST_F(admission, limits_and_their_messages) {
    finish_offsets();
    EXPECT_EQ(add_frequency(0, 1), 0);
    EXPECT_EQ(add_frequency(20000, 3600), 0);
    EXPECT_EQ(add_frequency(20000.5, 1), 0);
    EXPECT_EQ(add_frequency(-1, 1), 0);
    EXPECT_EQ(add_frequency(NAN, 1), 0);
    EXPECT_EQ(add_frequency(440, 3601), 0);
    EXPECT_EQ(add_frequency(440, -5), 0);
    EXPECT_EQ(table(), "0/1 20000/3600 440/-5 ");
    EXPECT_EQ(err(),
              "tonquel: frequency 20000.5 > maximum of 20000: ignored\n"
              "tonquel: frequency -1 < minimum of 0: ignored\n"
              "tonquel: frequency nan < minimum of 0: ignored\n"
              "tonquel: duration 3601 > maximum of 3600: ignored\n");
}

TEST_F(admission, octave_shift_raises_the_lowest_frequency) {
    settings.octave_shift = true;
    finish_offsets();
    add_frequency(0, 1);
    add_frequency(0.3, 1);
    add_frequency(0.3125, 1);
    EXPECT_EQ(table(), "0.3125/1 ");
    EXPECT_EQ(err(),
              "tonquel: frequency 0 < minimum of 0.3125: ignored\n"
              "tonquel: frequency 0.3 < minimum of 0.3125: ignored\n");
}

TEST_F(admission, sums_are_not_tested) {
    add_offset(-20);
    finish_offsets();
    add_frequency(10, 1);
    EXPECT_EQ(table(), "-10/1 ");
}

TEST_F(admission, session_file_gets_warnings_behind_a_hash) {
    tq_test::captured_stream session;
    session_file = session.file();
    finish_offsets();
    add_frequency(30000, 10);
    flush_records();
    session_file = nullptr;
    EXPECT_EQ(session.text(), "#tonquel: frequency 30000 > maximum of 20000: ignored\n");
    EXPECT_EQ(err(), "tonquel: frequency 30000 > maximum of 20000: ignored\n");
}
