#include "engine/sound/wavetables.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "process/settings.h"

namespace {

class wavetables_test : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override { fresh(); }

    static void fresh() {
        settings = run_settings{};
        tables_built = false;
    }

    static void build(bool triangle, bool square, double phase = 0.0) {
        settings.triangle_wave = triangle;
        settings.square_wave = square;
        settings.phase_angle = phase;
        tables_built = false;
        build_wavetables();
    }
};

struct worked_value {
    int i;
    int sine;
    int triangle;
    int square;
};

// Default volume 0.5: amplitude 16383.5. The sine rounds outward to 16384,
// the triangle and square truncate to 16383.
constexpr worked_value worked_values[] = {
    {0, 0, 0, 16383},
    {1, 25, 15, 16383},
    {512, 11585, 8191, 16383},
    {1024, 16384, 16383, 16383},
    {1025, 16383, 16367, 16383},
    {2048, 0, 0, 16383},
    {2049, -25, -15, -16383},
    {3072, -16384, -16383, -16383},
    {4095, -25, -15, -16383},
};

TEST_F(wavetables_test, worked_values_of_every_shape_in_both_tables) {
    build(false, false);
    for (const auto& v : worked_values) {
        EXPECT_EQ(left_table[v.i], v.sine) << "sine i=" << v.i;
        EXPECT_EQ(right_table[v.i], v.sine) << "sine i=" << v.i;
    }
    build(true, false);
    for (const auto& v : worked_values) {
        EXPECT_EQ(left_table[v.i], v.triangle) << "triangle i=" << v.i;
        EXPECT_EQ(right_table[v.i], v.triangle) << "triangle i=" << v.i;
    }
    build(false, true);
    for (const auto& v : worked_values) {
        EXPECT_EQ(left_table[v.i], v.square) << "square i=" << v.i;
        EXPECT_EQ(right_table[v.i], v.square) << "square i=" << v.i;
    }
}

TEST_F(wavetables_test, triangle_wins_when_both_shape_flags_are_set) {
    build(true, true);
    EXPECT_EQ(left_table[1], 15);
    EXPECT_EQ(left_table[3072], -16383);
}

TEST_F(wavetables_test, square_counts_180_degrees_to_the_positive_half) {
    build(false, true);
    int positive = static_cast<int>(std::count(left_table, left_table + table_size, int16_t{16383}));
    int negative = static_cast<int>(std::count(left_table, left_table + table_size, int16_t{-16383}));
    EXPECT_EQ(positive, 2049);
    EXPECT_EQ(negative, 2047);
    EXPECT_TRUE(std::all_of(left_table, left_table + 2049, [](int16_t s) { return s == 16383; }));
}

struct phase_case {
    const char* name;
    bool triangle;
    bool square;
    double phase;
    int i;
    int expected;
};

constexpr phase_case phase_cases[] = {
    {"sine +90", false, false, 90, 0, 16384},
    {"sine +90", false, false, 90, 1024, 0},
    {"sine +90", false, false, 90, 3072, 0},
    {"sine -90", false, false, -90, 0, -16384},
    {"sine -90", false, false, -90, 1024, 0},
    {"sine 180", false, false, 180, 0, 0},
    {"sine 180", false, false, 180, 1024, -16384},
    {"triangle +90", true, false, 90, 0, 16383},
    {"triangle +90", true, false, 90, 1024, 0},
    {"triangle +90", true, false, 90, 2048, -16383},
    {"triangle -90", true, false, -90, 0, -16383},
    {"triangle -90", true, false, -90, 1024, 0},
    {"triangle -90", true, false, -90, 2048, 16383},
    {"triangle -90", true, false, -90, 3072, 0},
    {"square 180", false, true, 180, 0, 16383},
    {"square 180", false, true, 180, 1, -16383},
    {"square 180", false, true, 180, 2048, -16383},
    {"square 180", false, true, 180, 2049, 16383},
    {"square 180", false, true, 180, 4095, 16383},
};

TEST_F(wavetables_test, phase_angle_shifts_the_right_table_only) {
    for (const auto& c : phase_cases) {
        build(c.triangle, c.square, c.phase);
        EXPECT_EQ(right_table[c.i], c.expected) << c.name << " i=" << c.i;
    }
    // The left table never sees the angle.
    build(false, false, 90);
    EXPECT_EQ(left_table[0], 0);
    EXPECT_EQ(left_table[1024], 16384);
}

TEST_F(wavetables_test, square_at_180_degrees_splits_at_360) {
    build(false, true, 180);
    EXPECT_EQ(right_table[0], 16383);
    EXPECT_TRUE(std::all_of(right_table + 1, right_table + 2049, [](int16_t s) { return s == -16383; }));
    EXPECT_TRUE(std::all_of(right_table + 2049, right_table + table_size, [](int16_t s) { return s == 16383; }));
}

TEST_F(wavetables_test, volume_zero_and_one_for_every_shape) {
    const bool shapes[][2] = {{false, false}, {true, false}, {false, true}};
    for (const auto& shape : shapes) {
        settings.left_volume = 0.0;
        settings.right_volume = 1.0;
        build(shape[0], shape[1]);
        EXPECT_TRUE(std::all_of(left_table, left_table + table_size, [](int16_t s) { return s == 0; }))
            << "triangle=" << shape[0] << " square=" << shape[1];
        EXPECT_EQ(*std::max_element(right_table, right_table + table_size), 32767);
        EXPECT_EQ(*std::min_element(right_table, right_table + table_size), -32767);

        settings.left_volume = 1.0;
        settings.right_volume = 0.0;
        build(shape[0], shape[1]);
        EXPECT_TRUE(std::all_of(right_table, right_table + table_size, [](int16_t s) { return s == 0; }));
        EXPECT_EQ(*std::max_element(left_table, left_table + table_size), 32767);
        EXPECT_EQ(*std::min_element(left_table, left_table + table_size), -32767);
    }
}

TEST_F(wavetables_test, each_table_takes_its_own_volume) {
    settings.left_volume = 0.25;  // amplitude 8191.75
    settings.right_volume = 1.0;
    build(false, false);
    EXPECT_EQ(left_table[1024], 8192);
    EXPECT_EQ(right_table[1024], 32767);
    build(true, false);
    EXPECT_EQ(left_table[1024], 8191);
    EXPECT_EQ(right_table[1024], 32767);
    EXPECT_EQ(right_table[3072], -32767);
}

TEST_F(wavetables_test, built_once_later_calls_change_nothing) {
    build(false, false);
    EXPECT_TRUE(tables_built);
    settings.square_wave = true;
    settings.left_volume = 1.0;
    build_wavetables();
    EXPECT_EQ(left_table[0], 0);
    EXPECT_EQ(left_table[1024], 16384);
    EXPECT_EQ(right_table[3072], -16384);
}

}  // namespace
