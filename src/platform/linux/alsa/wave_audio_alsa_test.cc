// The ALSA back end against ALSA's own null and file plugins, which need no
// sound server: they check what reaches the device and the block hand-back,
// never timing. Real playback is covered by tests/system/audio_*.sh; the
// contract with the engine by the harness below, through the private server
// of tests/system/audio_wave_contract.sh.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/linux/alsa/alsa_device_names.h"
#include "platform/linux/alsa/wave_audio_alsa.h"
#include "platform/linux/alsa/pcm_worker.h"
#include "platform/wave_audio_contract_test_support.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <poll.h>

namespace {

using namespace std::chrono_literals;

constexpr uint32_t second_of_frames = 44100;
constexpr auto patience = 10s;

std::unique_ptr<wave_audio> audio_on(const std::string& output, const std::string& input) {
    return make_alsa_wave_audio_on(alsa_device_names{output, input});
}

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::string temp_path(const char* stem) {
    return testing::TempDir() + stem + std::to_string(getpid()) + ".raw";
}

std::vector<char> file_bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Left sample counts frames, right sample tells the blocks apart.
std::vector<int16_t> marked_block(int16_t mark, uint32_t frames) {
    std::vector<int16_t> samples(std::size_t{frames} * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        samples[2 * i] = static_cast<int16_t>(i % 30000);
        samples[2 * i + 1] = mark;
    }
    return samples;
}

TEST(alsa_error_text, names_alsa_and_system_codes) {
    auto audio = audio_on("null", "null");
    EXPECT_EQ(audio->error_text(-EPIPE), std::strerror(EPIPE));
    EXPECT_EQ(audio->error_text(-ENODEV), std::strerror(ENODEV));
    EXPECT_FALSE(audio->error_text(0).empty());
    EXPECT_NE(audio->error_text(12345).find("12345"), std::string::npos);
}

TEST(alsa_probe, null_device_takes_both_formats) {
    const wave_probe_result probe = audio_on("null", "null")->probe(nullptr, nullptr);
    EXPECT_TRUE(probe.output_ok);
    EXPECT_TRUE(probe.input_ok);
}

TEST(alsa_named_device, replaces_the_default_in_the_probe_and_the_opening) {
    auto audio = audio_on("tonquel_no_such_pcm", "tonquel_no_such_pcm");
    const wave_probe_result probe = audio->probe("null", "null");
    EXPECT_TRUE(probe.output_ok);
    EXPECT_TRUE(probe.input_ok);
    std::unique_ptr<wave_output> output;
    EXPECT_EQ(audio->open_output("null", output, device_answer_limit_ms, long_queue_ms), 0);
    std::unique_ptr<wave_input> input;
    EXPECT_EQ(audio->open_input("null", input, device_answer_limit_ms), 0);
}

// The default is listed, and marked, also where no hint names it.
TEST(alsa_device_list, lists_both_directions_outputs_first_with_one_default_each) {
    for (const char* fallback : {"null", "tonquel_unhinted"}) {
        const std::vector<wave_device_entry> devices = audio_on(fallback, fallback)->list_devices();
        int defaults[2] = {0, 0};
        for (const wave_device_entry& device : devices) {
            const int direction = device.direction == wave_direction::input ? 1 : 0;
            if (device.is_default) ++defaults[direction];
            EXPECT_EQ(device.is_default, device.name == fallback) << device.name;
            EXPECT_EQ(device.description.find('\n'), std::string::npos) << device.description;
        }
        EXPECT_EQ(defaults[0], 1) << fallback;
        EXPECT_EQ(defaults[1], 1) << fallback;
        EXPECT_EQ(devices.at(0).direction, wave_direction::output);
    }
}

class alsa_output_to_file : public testing::Test {
protected:
    void SetUp() override {
        path_ = temp_path("tonquel_alsa_output_");
        std::remove(path_.c_str());
        auto audio = audio_on("file:FILE=" + path_ + ",FORMAT=raw", "null");
        ASSERT_EQ(audio->open_output(nullptr, output_, device_answer_limit_ms, long_queue_ms), 0);
    }
    void TearDown() override {
        output_.reset();
        std::remove(path_.c_str());
    }
    bool file_holds(std::size_t bytes) {
        return eventually([&] { return file_bytes(path_).size() >= bytes; });
    }

    std::string path_;
    std::unique_ptr<wave_output> output_;
};

TEST_F(alsa_output_to_file, blocks_play_whole_in_order_and_come_back_done) {
    std::vector<int16_t> a(std::size_t{second_of_frames} * 2);
    std::vector<int16_t> b(std::size_t{second_of_frames} * 2);
    const pcm_block block_a{a.data(), second_of_frames};
    const pcm_block block_b{b.data(), second_of_frames};
    EXPECT_TRUE(output_->is_done(block_a)) << "a block never written counts as done";

    // As the engine does: two blocks queued, each refilled once it is done.
    std::vector<int16_t> stream;
    auto play = [&](std::vector<int16_t>& storage, const pcm_block& block, int16_t mark) {
        ASSERT_TRUE(eventually([&] { return output_->is_done(block); }));
        const std::vector<int16_t> refill = marked_block(mark, second_of_frames);
        std::copy(refill.begin(), refill.end(), storage.begin());  // same storage
        stream.insert(stream.end(), refill.begin(), refill.end());
        ASSERT_EQ(output_->write(block), 0);
    };
    for (int16_t mark = 1; mark <= 6; mark += 2) {
        play(a, block_a, mark);
        play(b, block_b, static_cast<int16_t>(mark + 1));
    }
    ASSERT_TRUE(eventually([&] { return output_->is_done(block_a) && output_->is_done(block_b); }));

    // The null device under the file plugin never plays out the last ring
    // full, so only a prefix of the stream reaches the file: it must be the
    // blocks back to back, in the order written.
    const std::size_t block_bytes = std::size_t{second_of_frames} * 4;
    ASSERT_TRUE(file_holds(3 * block_bytes + 1));
    const std::vector<char> played = file_bytes(path_);
    ASSERT_LE(played.size(), stream.size() * sizeof(int16_t));
    EXPECT_EQ(std::memcmp(played.data(), stream.data(), played.size()), 0);
}

class alsa_input_from_null : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(audio_on("null", "null")->open_input(nullptr, input_, device_answer_limit_ms), 0); }
    std::unique_ptr<wave_input> input_;
};

TEST_F(alsa_input_from_null, reset_forgets_the_block_and_start_works_again) {
    std::vector<int16_t> buffer(2 * 200, 1);
    ASSERT_EQ(input_->start(pcm_block{buffer.data(), 200}), 0);
    input_->reset();
    EXPECT_EQ(input_->stop(), 0u);

    ASSERT_EQ(input_->start(pcm_block{buffer.data(), 200}), 0);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(input_->stop(), 200u);
}

// ALSA's default device through the server that audio_wave_contract.sh
// started (TONQUEL_CONTRACT_SERVER_PID), and its "frozen" device: ALSA's
// file plugin writing into a FIFO (TONQUEL_CONTRACT_FIFO), as the test HOME's
// ~/.asoundrc defines it. With no reader its open hangs; with a reader that
// never reads it takes blocks and plays none.
class alsa_harness final : public wave_audio_harness {
public:
    alsa_harness(pid_t server, std::string fifo) : server_(server), fifo_(std::move(fifo)) {}
    ~alsa_harness() override {
        thaw();
        // Workers left stuck by the faults come back and close their PCMs
        // once the FIFO drains; the next test starts without them.
        const auto until = std::chrono::steady_clock::now() + patience;
        while (pcm_worker::stuck(alsa_direction::playback) > 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(20ms);
        draining_ = false;
        if (drainer_.joinable()) drainer_.join();
        if (holder_ >= 0) close(holder_);
    }

    wave_audio& audio() override { return *service_; }
    void pass(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    int64_t now_ms() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool kill_server() override { return kill(server_, SIGKILL) == 0; }
    const char* frozen_output() override { return "frozen"; }
    bool freeze_opens() override { return !draining_ && holder_ < 0; }
    bool freeze_playing() override {
        holder_ = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return holder_ >= 0;
    }
    void thaw() override {
        if (draining_.exchange(true)) return;
        drainer_ = std::thread([this] {
            // Read and written: the FIFO never reaches its end while writers
            // come and go.
            const int fd = open(fifo_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            char chunk[65536];
            while (fd >= 0 && draining_) {
                pollfd ready{fd, POLLIN, 0};
                if (poll(&ready, 1, 20) > 0) [[maybe_unused]] ssize_t got = read(fd, chunk, sizeof chunk);
            }
            if (fd >= 0) close(fd);
        });
    }
    int threads() override {
        std::ifstream status("/proc/self/status");
        std::string key;
        while (status >> key) {
            if (key == "Threads:") {
                int count = -1;
                status >> count;
                return count;
            }
        }
        return -1;
    }

private:
    std::unique_ptr<wave_audio> service_ = make_alsa_wave_audio();
    pid_t server_;
    std::string fifo_;
    int holder_ = -1;
    std::atomic<bool> draining_{false};
    std::thread drainer_;
};

const register_wave_audio_harness alsa_through_a_server{
    {"alsa", [](std::string& why_not) -> std::unique_ptr<wave_audio_harness> {
         const char* server = std::getenv("TONQUEL_CONTRACT_SERVER_PID");
         const char* fifo = std::getenv("TONQUEL_CONTRACT_FIFO");
         if (server == nullptr || fifo == nullptr) {
             why_not = "no sound server to try ALSA through (tests/system/audio_wave_contract.sh starts one)";
             return nullptr;
         }
         return std::make_unique<alsa_harness>(static_cast<pid_t>(std::atol(server)), fifo);
     }}};

}  // namespace
