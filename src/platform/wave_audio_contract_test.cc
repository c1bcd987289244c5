// What the engine relies on from every wave-audio back end, checked against
// each one that registered a harness (wave_audio_contract_test_support.h):
// the simulated platform here, ALSA and WinMM through a private sound server
// in tests/system/audio_wave_contract.sh. Bounds of time are the contract's
// own, with room for a busy machine.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/wave_audio_contract_test_support.h"
#include "process/exit.h"

namespace {

constexpr uint32_t half_second = 22050;
constexpr int quick_ms = 1000;  // "at once", for a machine under load

std::vector<std::string> harness_names() {
    std::vector<std::string> names;
    for (const wave_audio_harness_maker& maker : wave_audio_harness_makers()) names.push_back(maker.name);
    return names;
}

class wave_audio_contract : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        for (const wave_audio_harness_maker& maker : wave_audio_harness_makers()) {
            if (maker.name != GetParam()) continue;
            std::string why_not;
            harness_ = maker.make(why_not);
            if (!harness_) GTEST_SKIP() << why_not;
        }
        ASSERT_NE(harness_, nullptr);
    }
    void TearDown() override { pending_signal = 0; }

    wave_audio& audio() { return harness_->audio(); }

    // True once the condition holds, looking every 20 ms for up to limit_ms.
    template <typename Condition>
    bool within(int limit_ms, Condition condition) {
        const int64_t until = harness_->now_ms() + limit_ms;
        while (!condition()) {
            if (harness_->now_ms() > until) return false;
            harness_->pass(20);
        }
        return true;
    }

    std::unique_ptr<wave_output> open_output(const char* name = nullptr, int queue_ms = long_queue_ms) {
        std::unique_ptr<wave_output> output;
        EXPECT_EQ(audio().open_output(name, output, device_answer_limit_ms, queue_ms), 0)
            << (name != nullptr ? name : "the default");
        return output;
    }

    std::unique_ptr<wave_audio_harness> harness_;
    std::vector<int16_t> a_ = std::vector<int16_t>(2 * half_second, 100);
    std::vector<int16_t> b_ = std::vector<int16_t>(2 * half_second, -100);
    pcm_block block_a_{a_.data(), half_second};
    pcm_block block_b_{b_.data(), half_second};
};

TEST_P(wave_audio_contract, a_device_that_is_not_there_fails_to_open_and_says_which) {
    std::unique_ptr<wave_output> output;
    const wave_error output_error =
        audio().open_output("tonquel_no_such_device", output, device_answer_limit_ms, long_queue_ms);
    EXPECT_NE(output_error, 0);
    EXPECT_EQ(output, nullptr);
    EXPECT_NE(audio().error_text(output_error).find("tonquel_no_such_device"), std::string::npos)
        << audio().error_text(output_error);
    std::unique_ptr<wave_input> input;
    EXPECT_NE(audio().open_input("tonquel_no_such_device", input, device_answer_limit_ms), 0);
    EXPECT_EQ(input, nullptr);
}

// Blocks come back once played, in about real time: a device that hands them
// back at once would run every tone short, one that never does would hang it.
TEST_P(wave_audio_contract, written_blocks_are_done_once_they_have_played_and_reset_hands_all_back) {
  for (const int queue_ms : {long_queue_ms, 40}) {
    SCOPED_TRACE(queue_ms);
    auto output = open_output(nullptr, queue_ms);
    ASSERT_NE(output, nullptr);
    EXPECT_TRUE(output->is_done(block_a_)) << "a block never written counts as done";
    const int64_t started = harness_->now_ms();
    ASSERT_EQ(output->write(block_a_), 0);
    ASSERT_EQ(output->write(block_b_), 0);
    EXPECT_FALSE(output->is_done(block_b_));
    // A clock the player renders ahead by: never past what was written nor
    // ahead of the time since by more than a short block (PipeWire's
    // PulseAudio server takes some 30 ms into its own buffer at once), never
    // back by more than a few milliseconds, and never known where the back
    // end says it keeps none. (Two long blocks give the thread too few looks
    // to be sure of seeing the delay fall, on a busy machine.)
    int64_t last_played = -1;
    bool clock_known = false;
    ASSERT_TRUE(within(device_start_limit_ms, [&] {
        const int64_t played = output->played_frames();
        if (played >= 0) {
            clock_known = true;
            EXPECT_LE(played, int64_t{2} * half_second);
            EXPECT_LE(played, (harness_->now_ms() - started + 50) * 441 / 10);
            EXPECT_GE(played, last_played - 441);
            last_played = played;
        }
        return output->is_done(block_a_) && output->is_done(block_b_);
    }));
    EXPECT_TRUE(audio().outputs_keep_clock() || !clock_known) << "a clock from a back end that keeps none";
    EXPECT_GE(harness_->now_ms() - started, 600) << "a second of sound came back too soon";
    EXPECT_EQ(output->failure(), 0) << audio().error_text(output->failure());

    ASSERT_EQ(output->write(block_a_), 0);
    ASSERT_EQ(output->write(block_b_), 0);
    output->reset();
    EXPECT_TRUE(output->is_done(block_a_));
    EXPECT_TRUE(output->is_done(block_b_));
    ASSERT_EQ(output->write(block_a_), 0);
    EXPECT_TRUE(within(device_start_limit_ms, [&] { return output->is_done(block_a_); }));
    int16_t sample = 0;
    EXPECT_EQ(output->write(pcm_block{&sample, 0}), 0);
    EXPECT_TRUE(output->is_done(pcm_block{&sample, 0}));
    EXPECT_EQ(output->failure(), 0);
  }
}

TEST_P(wave_audio_contract, input_records_into_its_block_and_no_further) {
    std::unique_ptr<wave_input> input;
    ASSERT_EQ(audio().open_input(nullptr, input, device_answer_limit_ms), 0);
    constexpr uint32_t frames = 300;
    constexpr int16_t untouched = 0x5a5a;
    std::vector<int16_t> buffer(std::size_t{frames + 100} * 2, untouched);
    ASSERT_EQ(input->start(pcm_block{buffer.data(), frames}), 0);
    harness_->pass(1500);
    // A tone's end waits on this count for its last frames.
    EXPECT_EQ(input->recorded(), frames) << "a full block is counted whole";
    EXPECT_EQ(input->stop(), frames);
    for (std::size_t i = frames * 2; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], untouched) << "sample " << i;
    EXPECT_EQ(input->failure(), 0);
    EXPECT_EQ(input->start(pcm_block{}), 0) << "an empty block records nothing";
    EXPECT_EQ(input->stop(), 0u);
}

// A device that stops playing is told within the start limit of the stream,
// while the caller keeps it fed as playback does, and closing it does not
// wait on it.
TEST_P(wave_audio_contract, a_device_that_stops_playing_is_told_and_closes_at_once) {
    if (!harness_->freeze_playing()) GTEST_SKIP() << "no device here can be frozen";
    auto output = open_output(harness_->frozen_output());
    ASSERT_NE(output, nullptr);
    const int64_t started = harness_->now_ms();
    EXPECT_TRUE(within(device_start_limit_ms + device_stall_limit_ms + 2000, [&] {
        for (const pcm_block& block : {block_a_, block_b_})
            if (output->is_done(block)) output->write(block);
        return output->failure() != 0;
    }));
    EXPECT_GE(harness_->now_ms() - started, device_stall_limit_ms) << "told before its limits";
    EXPECT_TRUE(output->is_done(block_a_));
    EXPECT_TRUE(output->is_done(block_b_));
    EXPECT_NE(output->write(block_a_), 0);
    const int64_t closing = harness_->now_ms();
    output.reset();
    EXPECT_LT(harness_->now_ms() - closing, quick_ms);
}

// An open that hangs gives up within its limit and leaves one try out: the
// next fails at once, without another thread; once the device answers again
// it opens and plays.
TEST_P(wave_audio_contract, an_open_that_hangs_keeps_one_try_out_until_the_device_answers) {
    if (!harness_->freeze_opens()) GTEST_SKIP() << "no device here can be frozen";
    const int threads_before = harness_->threads();
    std::unique_ptr<wave_output> output;
    int64_t asked = harness_->now_ms();
    EXPECT_NE(audio().open_output(harness_->frozen_output(), output, 500, long_queue_ms), 0);
    EXPECT_GE(harness_->now_ms() - asked, 400);
    EXPECT_LT(harness_->now_ms() - asked, 500 + quick_ms);
    for (int again = 0; again < 3; ++again) {
        asked = harness_->now_ms();
        EXPECT_NE(audio().open_output(harness_->frozen_output(), output, device_answer_limit_ms, long_queue_ms), 0);
        EXPECT_LT(harness_->now_ms() - asked, quick_ms);
    }
    if (threads_before >= 0) {
        EXPECT_LE(harness_->threads(), threads_before + 1);
    }

    harness_->thaw();
    EXPECT_TRUE(within(5000, [&] {
        return audio().open_output(harness_->frozen_output(), output, device_answer_limit_ms, long_queue_ms) == 0;
    }));
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(output->write(block_a_), 0);
    EXPECT_TRUE(within(device_start_limit_ms, [&] { return output->is_done(block_a_); }));
    EXPECT_EQ(output->failure(), 0);
}

TEST_P(wave_audio_contract, a_pending_interrupt_cuts_a_hanging_open_short) {
    if (!harness_->freeze_opens()) GTEST_SKIP() << "no device here can be frozen";
    pending_signal = SIGINT;
    std::unique_ptr<wave_output> output;
    const int64_t asked = harness_->now_ms();
    EXPECT_NE(audio().open_output(harness_->frozen_output(), output, device_answer_limit_ms, long_queue_ms), 0);
    EXPECT_LT(harness_->now_ms() - asked, quick_ms);
}

// A server that goes away is told on both sides, and no block is left that
// would never come back. Last: a real server stays away for the tests after.
TEST_P(wave_audio_contract, a_server_that_goes_away_is_told_and_hands_every_block_back) {
    auto output = open_output();
    ASSERT_NE(output, nullptr);
    std::unique_ptr<wave_input> input;
    ASSERT_EQ(audio().open_input(nullptr, input, device_answer_limit_ms), 0);
    std::vector<int16_t> recorded(2 * 60000);
    ASSERT_EQ(input->start(pcm_block{recorded.data(), 60000}), 0);
    ASSERT_EQ(output->write(block_a_), 0);
    ASSERT_EQ(output->write(block_b_), 0);
    harness_->pass(200);
    if (!harness_->kill_server()) GTEST_SKIP() << "the server cannot be taken away here";
    // The write that follows may be what shows it.
    const int limit = device_start_limit_ms + device_stall_limit_ms + 2000;
    EXPECT_TRUE(within(limit, [&] {
        if (output->is_done(block_a_)) output->write(block_a_);
        return output->failure() != 0;
    }));
    EXPECT_TRUE(output->is_done(block_a_));
    EXPECT_TRUE(output->is_done(block_b_));
    EXPECT_NE(output->write(block_b_), 0);
    EXPECT_TRUE(within(limit, [&] { return input->failure() != 0; })) << "the lost input is not told";
}

INSTANTIATE_TEST_SUITE_P(each_back_end, wave_audio_contract, testing::ValuesIn(harness_names()),
                         [](const testing::TestParamInfo<std::string>& param) { return param.param; });

}  // namespace
