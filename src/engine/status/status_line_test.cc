// The layout of the status line and the export's progress bar.

#include "engine/status/status_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

status_fields playing(bool paused) {
    status_fields fields;
    fields.frequency = "1234.57";
    fields.elapsed_seconds = 75;
    fields.total_seconds = 180;
    fields.tone_number = 2;
    fields.tone_count = 12;
    fields.schedule_left_seconds = 3 * 3600 + 5;
    fields.paused = paused;
    return fields;
}

TEST(status_line, clock_text_is_m_ss_below_an_hour_and_h_mm_ss_from_it) {
    EXPECT_EQ(clock_text(0), "0:00");
    EXPECT_EQ(clock_text(59), "0:59");
    EXPECT_EQ(clock_text(61), "1:01");
    EXPECT_EQ(clock_text(3599), "59:59");
    EXPECT_EQ(clock_text(3600), "1:00:00");
    EXPECT_EQ(clock_text(3723), "1:02:03");
    EXPECT_EQ(clock_text(int64_t{3600} * 1000 + 1), "1000:00:01");
    EXPECT_EQ(clock_text(-5), "0:00");
}

TEST(status_line, parts_are_left_out_as_the_width_shrinks_keys_first_frequency_last) {
    const struct {
        int width;
        const char* line;
    } cases[] = {
        {200, "1234.57 Hz  1:15 / 3:00  tone 2 of 12  3:00:05 left  keys: + - n N s b p q"},
        {75, "1234.57 Hz  1:15 / 3:00  tone 2 of 12  3:00:05 left  keys: + - n N s b p q"},
        {74, "1234.57 Hz  1:15 / 3:00  tone 2 of 12  3:00:05 left"},
        {52, "1234.57 Hz  1:15 / 3:00  tone 2 of 12  3:00:05 left"},
        {51, "1234.57 Hz  1:15 / 3:00  3:00:05 left"},
        {38, "1234.57 Hz  1:15 / 3:00  3:00:05 left"},
        {37, "1234.57 Hz  1:15 / 3:00"},
        {24, "1234.57 Hz  1:15 / 3:00"},
        {23, "1234.57 Hz"},
        {11, "1234.57 Hz"},
        {10, "1234.57 H"},
        {2, "1"},
        {1, ""},
        {0, ""},
        {-3, ""},
    };
    for (const auto& c : cases) {
        const std::string line = status_line_text(playing(false), c.width);
        EXPECT_EQ(line, c.line) << "width " << c.width;
        // The last column stays free: nothing wraps.
        if (c.width > 0) {
            EXPECT_LT(line.size(), static_cast<size_t>(c.width));
        }
    }
}

TEST(status_line, paused_stays_longest_after_the_frequency) {
    EXPECT_EQ(status_line_text(playing(true), 200),
              "1234.57 Hz  1:15 / 3:00  paused  tone 2 of 12  3:00:05 left  keys: + - n N s b p q");
    EXPECT_EQ(status_line_text(playing(true), 60), "1234.57 Hz  1:15 / 3:00  paused  tone 2 of 12  3:00:05 left");
    EXPECT_EQ(status_line_text(playing(true), 32), "1234.57 Hz  1:15 / 3:00  paused");
    EXPECT_EQ(status_line_text(playing(true), 24), "1234.57 Hz  paused");
}

TEST(status_line, progress_bar_fills_with_what_is_done_and_fits_the_width) {
    EXPECT_EQ(progress_bar_text(0, 100, -1, 80), "export  [----------------------------------------]  0%");
    EXPECT_EQ(progress_bar_text(42, 100, 3, 80), "export  [################------------------------]  42%  0:03 left");
    EXPECT_EQ(progress_bar_text(100, 100, 0, 80), "export  [########################################]  100%  0:00 left");
    // The bar takes the room that is left, 10 columns at least.
    EXPECT_EQ(progress_bar_text(50, 100, 75, 40), "export  [######-------]  50%  1:15 left");
    EXPECT_EQ(progress_bar_text(50, 100, 75, 37), "export  [#####-----]  50%  1:15 left");
    EXPECT_EQ(progress_bar_text(50, 100, 75, 36), "export  50%  1:15 left");
    EXPECT_EQ(progress_bar_text(50, 100, 75, 20), "50%  1:15 left");
    EXPECT_EQ(progress_bar_text(50, 100, 75, 10), "50%");
    // An empty schedule is done at once; a count past the total is the total.
    EXPECT_EQ(progress_bar_text(0, 0, -1, 30), "export  [#############]  100%");
    EXPECT_EQ(progress_bar_text(7, 5, -1, 30), "export  [#############]  100%");
    for (int width = 0; width < 100; ++width) {
        const std::string bar = progress_bar_text(1234, 5000, 4000, width);
        if (width > 0) {
            EXPECT_LT(bar.size(), static_cast<size_t>(width)) << width;
        }
    }
}

}  // namespace
