#include "schedule/fdt.h"

#include <cstring>

#include "schedule/schedule_test_support.h"

using fdt_table = schedule_test;

TEST_F(fdt_table, grows_in_steps_of_1000_before_the_last_slot_fills) {
    EXPECT_EQ(fdt_capacity, 0u);
    fdt_insert(0, 1, nullptr, 0);
    EXPECT_EQ(fdt_capacity, 1000u);
    for (int i = 1; i < 999; ++i) fdt_insert(i, 1, nullptr, i);
    EXPECT_EQ(num_fdt, 999u);
    EXPECT_EQ(fdt_capacity, 1000u);
    fdt_insert(999, 1, nullptr, 999);  // the 1000th entry arrives in a 2000-entry array
    EXPECT_EQ(fdt_capacity, 2000u);
    EXPECT_EQ(num_fdt, 1000u);
    for (uint32_t i = 0; i < num_fdt; ++i) EXPECT_EQ(fdt[i].frequency, i);
}

TEST_F(fdt_table, inserting_in_the_middle_moves_the_tail_and_keeps_texts) {
    fdt_insert(0, 0, "# comment\n", 0);
    fdt_insert(550, 2, nullptr, 1);
    fdt_insert(440, 1, nullptr, 0);  // a tone in front of a comment stays a tone
    EXPECT_EQ(table(), "440/1 ## comment\n550/2 ");
    char line[] = "\n";
    fdt_insert(0, 0, line, 3);
    line[0] = 'x';  // the table holds its own copy
    EXPECT_STREQ(fdt[3].text, "\n");
    fdt_free();  // ASan checks each text is released exactly once
    EXPECT_EQ(num_fdt, 0u);
    EXPECT_EQ(fdt_capacity, 0u);
}

TEST_F(fdt_table, bad_index_is_an_internal_error) {
    fdt_insert(1, 1, nullptr, 0);
    fdt_insert(2, 1, nullptr, 1);
    EXPECT_EQ(exit_status_of([] { fdt_insert(3, 1, nullptr, 3); }), 1);
    EXPECT_EQ(err(), "tonquel: internal error: i 3 num_fdt 2\n");
    EXPECT_EQ(fdt, nullptr);  // released
    fdt_insert(1, 1, nullptr, 0);
    EXPECT_EQ(exit_status_of([] { fdt_insert(3, 1, nullptr, -1); }), 1);
    EXPECT_EQ(err(), "tonquel: internal error: i 3 num_fdt 2\ntonquel: internal error: i -1 num_fdt 1\n");
}

TEST_F(fdt_table, free_without_storage_resets_the_counters) {
    fdt_pos = 7;
    fdt_free();
    EXPECT_EQ(fdt_pos, 0u);
    EXPECT_EQ(num_fdt, 0u);
    EXPECT_EQ(fdt_capacity, 0u);
    EXPECT_EQ(err(), "");
}
