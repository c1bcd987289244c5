#include "platform/wave_device_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> devices{"Speakers (Realtek High Definition", "2- USB Audio CODEC",
                                       "Speakers (2- USB Audio CODEC)", "Headphones"};

TEST(choose_wave_device, a_number_is_a_device_else_the_first_name_it_begins_in_any_case) {
    EXPECT_EQ(choose_wave_device(devices, "03"), 3);
    EXPECT_EQ(choose_wave_device(devices, "speakers"), 0);
    EXPECT_EQ(choose_wave_device(devices, "SPEAKERS (2"), 2);
    EXPECT_EQ(choose_wave_device(devices, "Headphones"), 3);
    // A number beyond the devices may still begin a name.
    EXPECT_EQ(choose_wave_device(devices, "2- usb"), 1);
    EXPECT_EQ(choose_wave_device(devices, "2"), 2);
}

TEST(choose_wave_device, nothing_matches_an_empty_name_a_longer_one_or_a_number_too_big) {
    for (const char* name : {"", "Headphones 2", "phones", "4", "99999999999999999999999999"})
        EXPECT_EQ(choose_wave_device(devices, name), -1) << name;
    EXPECT_EQ(choose_wave_device({}, "0"), -1);
}

}  // namespace
