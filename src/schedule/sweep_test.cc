#include "schedule/sweep.h"

#include <cmath>
#include <limits>

#include "schedule/schedule_test_support.h"

using sweeps = schedule_test;

TEST_F(sweeps, series_from_start_to_end) {
    struct sweep_case {
        double start, end, increment;
        const char* table;
    };
    const sweep_case cases[] = {
        {100, 110, 1, "100/9 101/9 102/9 103/9 104/9 105/9 106/9 107/9 108/9 109/9 110/9 "},
        {110, 100, 1, "110/9 109/9 108/9 107/9 106/9 105/9 104/9 103/9 102/9 101/9 100/9 "},
        {100, 110, -1, "100/9 101/9 102/9 103/9 104/9 105/9 106/9 107/9 108/9 109/9 110/9 "},
        {100, 110, 3, "100/9 103/9 106/9 109/9 110/9 "},
        {100, 101, 1, "100/9 101/9 "},
    };
    for (const auto& c : cases) {
        fdt_free();
        finish_offsets();
        EXPECT_EQ(sweep(c.start, c.end, c.increment, 9), 0);
        EXPECT_EQ(table(), c.table) << c.start << " " << c.end << " " << c.increment;
    }
}

TEST_F(sweeps, steps_accumulate_their_rounding) {
    finish_offsets();
    EXPECT_EQ(sweep(100, 101, 0.1, 1), 0);
    ASSERT_EQ(num_fdt, 12u);
    EXPECT_EQ(fdt[1].frequency, 100.1);
    EXPECT_EQ(fdt[10].frequency, 100.99999999999994);
    EXPECT_EQ(fdt[11].frequency, 101.0);
}

TEST_F(sweeps, refused_increments_queue_nothing) {
    finish_offsets();
    EXPECT_EQ(sweep(100, 101, 2, 1), -1);
    EXPECT_EQ(sweep(100, 100, 1, 1), -1);
    EXPECT_EQ(sweep(100, 110, 0, 1), -1);
    EXPECT_EQ(sweep(100, 110, 1e-15, 1), -1);  // adding it changes nothing
    EXPECT_EQ(sweep(-INFINITY, 110, 1, 1), -1);
    EXPECT_EQ(num_fdt, 0u);
    EXPECT_EQ(err(),
              "tonquel: sweep_increment too big\n"
              "tonquel: sweep_increment too big\n"
              "tonquel: sweep_increment == 0.0\n"
              "tonquel: sweep_increment too small\n"
              "tonquel: sweep_increment too small\n");
}

TEST_F(sweeps, steps_out_of_range_are_skipped_with_their_message) {
    finish_offsets();
    EXPECT_EQ(sweep(19990, 20010, 10, 1), 0);
    EXPECT_EQ(table(), "19990/1 20000/1 ");
    EXPECT_EQ(err(), "tonquel: frequency 20010 > maximum of 20000: ignored\n");
}

TEST_F(sweeps, each_step_is_expanded_by_the_offsets) {
    add_offset(-5);
    add_offset(5);
    finish_offsets();
    EXPECT_EQ(sweep(100, 110, 10, 1), 0);
    EXPECT_EQ(table(), "95/1 105/1 105/1 115/1 ");
}

TEST_F(sweeps, a_series_longer_than_memory_allows_ends_at_once) {
    finish_offsets();
    EXPECT_EQ(exit_status_of([] { sweep(100, 110, 1e-13, 1); }), 1);
    EXPECT_EQ(err(), "tonquel: out of memory\n");
    EXPECT_EQ(num_fdt, 0u);
}

TEST_F(sweeps, tiny_increments_far_from_zero_still_progress) {
    finish_offsets();
    EXPECT_EQ(sweep(0, 1e-300, 1e-301, -1), 0);
    EXPECT_EQ(num_fdt, 11u);
}
