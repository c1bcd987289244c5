#include "platform/linux/alsa/alsa_failures.h"
#include "platform/linux/alsa/stderr_catcher.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

std::string text(wave_error code) { return alsa_failure_text(code, "out_pcm", "in_pcm"); }

TEST(alsa_failure_text, names_the_direction_the_device_and_the_step) {
    const std::string no_server = text(alsa_failure(alsa_direction::playback, alsa_step::open, -ENOENT));
    EXPECT_NE(no_server.find("ALSA's \"out_pcm\" device for playback found no sound server"), std::string::npos)
        << no_server;
    EXPECT_NE(no_server.find(std::strerror(ENOENT)), std::string::npos) << no_server;

    const std::string stalled = text(alsa_failure(alsa_direction::capture, alsa_step::stop, -ETIMEDOUT));
    EXPECT_NE(stalled.find("\"in_pcm\" device for recording did not answer within 3 seconds while it was being "
                           "stopped"),
              std::string::npos)
        << stalled;

    const std::string asleep = text(alsa_failure(alsa_direction::playback, alsa_step::play, -ETIME));
    EXPECT_NE(asleep.find("\"out_pcm\" device for playback did not play within 6 seconds of starting"),
              std::string::npos)
        << asleep;

    const std::string lost = text(alsa_failure(alsa_direction::playback, alsa_step::play, -EIO));
    EXPECT_NE(lost.find("failed while it was playing (" + std::string(std::strerror(EIO))), std::string::npos)
        << lost;
}

TEST(alsa_failure_text, a_name_missing_from_the_configuration_is_sent_to_the_list_unless_it_is_the_default) {
    const wave_error missing = alsa_failure(alsa_direction::playback, alsa_step::find, -ENOENT);
    EXPECT_EQ(text(missing), "ALSA's \"out_pcm\" device for playback does not exist (" +
                                 std::string(std::strerror(ENOENT)) +
                                 "); check the name against the list that --list-devices prints");
    // Without a server or a card, "default" is missing from the configuration.
    const std::string no_default = alsa_failure_text(missing, "default", "default");
    EXPECT_EQ(no_default.find("ALSA's \"default\" device for playback found no sound server or sound card"), 0u)
        << no_default;
    EXPECT_EQ(no_default.find("--list-devices"), std::string::npos) << no_default;
}

TEST(alsa_failure_text, keeps_bare_codes_and_rejects_foreign_ones) {
    EXPECT_EQ(text(-EPIPE), std::strerror(EPIPE));
    EXPECT_EQ(alsa_failure(alsa_direction::playback, alsa_step::open, 0), 0);
    EXPECT_NE(text(7).find("unknown audio error 7"), std::string::npos);
    EXPECT_NE(text(-2000000000).find("unknown audio error"), std::string::npos);
}

TEST(stderr_catcher, keeps_library_lines_away_and_gives_back_the_last) {
    std::string last;
    {
        stderr_catcher catcher;
        const char lines[] = "ALSA lib first\nFailed to create secure directory\n\n";
        ASSERT_EQ(write(STDERR_FILENO, lines, sizeof lines - 1), static_cast<ssize_t>(sizeof lines - 1));
        last = catcher.last_line();
    }
    EXPECT_EQ(last, "Failed to create secure directory");
    // Standard error is back where it was: a new catcher starts empty.
    stderr_catcher again;
    EXPECT_EQ(again.last_line(), "");
}

}  // namespace
