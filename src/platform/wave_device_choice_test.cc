#include "platform/wave_device_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> devices{"Speakers (Realtek High Definition", "2- USB Audio CODEC",
                                       "Speakers (2- USB Audio CODEC)", "Headphones"};

TEST(choose_wave_device, a_number_within_the_devices_is_that_device) {
    EXPECT_EQ(choose_wave_device(devices, "0"), 0);
    EXPECT_EQ(choose_wave_device(devices, "3"), 3);
    EXPECT_EQ(choose_wave_device(devices, "03"), 3);
}

TEST(choose_wave_device, anything_else_is_the_beginning_of_a_name_in_any_case_the_first_match_winning) {
    EXPECT_EQ(choose_wave_device(devices, "speakers"), 0);
    EXPECT_EQ(choose_wave_device(devices, "SPEAKERS (2"), 2);
    EXPECT_EQ(choose_wave_device(devices, "head"), 3);
    EXPECT_EQ(choose_wave_device(devices, "Headphones"), 3);
    // A number beyond the devices may still begin a name.
    EXPECT_EQ(choose_wave_device(devices, "2- usb"), 1);
    EXPECT_EQ(choose_wave_device(devices, "2"), 2);
}

TEST(choose_wave_device, nothing_matches_an_empty_name_a_longer_one_or_a_number_too_big) {
    EXPECT_EQ(choose_wave_device(devices, ""), -1);
    EXPECT_EQ(choose_wave_device(devices, "Headphones 2"), -1);
    EXPECT_EQ(choose_wave_device(devices, "phones"), -1);
    EXPECT_EQ(choose_wave_device(devices, "4"), -1);
    EXPECT_EQ(choose_wave_device(devices, "99999999999999999999999999"), -1);
    EXPECT_EQ(choose_wave_device({}, "0"), -1);
}

}  // namespace
