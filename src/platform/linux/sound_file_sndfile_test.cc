// The libsndfile back end: whole exports in-process on it, read back from
// the files, and the temporary file that only a finish puts in place.

#include "platform/linux/sound_file_sndfile.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

constexpr uint32_t rate = 44100;

// The simulated platform, but with this system's sound files.
struct sndfile_export {
    sim_platform sim;
    std::unique_ptr<sound_file_writer> writer = make_sndfile_writer();
    platform services{sim.clock, sim.audio, sim.keys, sim.chooser, sim.status_line, sim.progress_line, *writer};

    tq_test::run_output run(const std::vector<std::string>& args) { return tq_test::run_on(services, args); }
};

uint32_t le32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

uint16_t le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::string bytes_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct decoded {
    SF_INFO info{};
    std::vector<int16_t> samples;
};

decoded decode(const std::string& path) {
    decoded result;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &result.info);
    if (file == nullptr) return result;
    result.samples.resize(static_cast<size_t>(result.info.frames) * 2);
    result.samples.resize(2 * static_cast<size_t>(sf_readf_short(file, result.samples.data(), result.info.frames)));
    sf_close(file);
    return result;
}

std::vector<int16_t> concatenated(const std::vector<std::vector<int16_t>>& parts) {
    std::vector<int16_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(sndfile_writer, writes_wav_flac_ogg_and_mp3) {
    auto writer = make_sndfile_writer();
    EXPECT_EQ(writer->types(), (std::vector<std::string>{"wav", "flac", "ogg", "mp3"}));
}

TEST(sndfile_writer, a_wav_holds_the_rendered_frames_behind_a_plain_pcm_header) {
    tq_test::temp_dir dir;
    sndfile_export on;
    auto r = on.run({"-S", "--output", "tones.wav", "440,1", "1000,2"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<int16_t> expected = concatenated({tq_test::rendered(440, 0, rate), tq_test::rendered(1000, 0, 2 * rate)});
    EXPECT_EQ(names_in("."), (std::vector<std::string>{"tones.wav"}));

    const std::string wav = bytes_of("tones.wav");
    const uint32_t data_bytes = 3 * rate * 4;
    ASSERT_EQ(wav.size(), 44 + data_bytes);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(wav, 16), 16u);      // fmt chunk
    EXPECT_EQ(le16(wav, 20), 1u);       // PCM
    EXPECT_EQ(le16(wav, 22), 2u);       // channels
    EXPECT_EQ(le32(wav, 24), rate);     // frames/s
    EXPECT_EQ(le32(wav, 28), rate * 4); // bytes/s
    EXPECT_EQ(le16(wav, 32), 4u);       // block alignment
    EXPECT_EQ(le16(wav, 34), 16u);      // bits
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(le32(wav, 40), data_bytes);
    std::vector<int16_t> samples(data_bytes / 2);
    std::memcpy(samples.data(), wav.data() + 44, data_bytes);
    EXPECT_EQ(samples, expected);

    // A new file's usual permissions, not those of a private temporary one.
    struct stat status {};
    ASSERT_EQ(stat("tones.wav", &status), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
}

TEST(sndfile_writer, flac_decodes_to_the_same_frames_and_lossy_types_to_their_length) {
    tq_test::temp_dir dir;
    sndfile_export on;
    ASSERT_EQ(on.run({"-p", "10,1", "-l", "500", "--output", "tones.flac", "440,2"}).status, 0);
    decoded flac = decode("tones.flac");
    EXPECT_EQ(flac.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    EXPECT_EQ(flac.info.channels, 2);
    EXPECT_EQ(flac.info.samplerate, static_cast<int>(rate));
    EXPECT_EQ(flac.samples, concatenated({tq_test::rendered(440, 0, rate), tq_test::rendered(440, 10, rate)}));

    for (const char* name : {"tones.ogg", "tones.mp3"}) {
        sndfile_export lossy;
        ASSERT_EQ(lossy.run({"--output", name, "440,2"}).status, 0) << name;
        decoded file = decode(name);
        EXPECT_EQ(file.info.channels, 2) << name;
        EXPECT_EQ(file.info.samplerate, static_cast<int>(rate)) << name;
        // The encoder may pad its last block.
        EXPECT_GE(file.info.frames, 2 * rate - 2048) << name;
        EXPECT_LE(file.info.frames, 2 * rate + 4096) << name;
    }
}

TEST(sndfile_writer, rf64_for_the_long_wav) {
    tq_test::temp_dir dir;
    auto writer = make_sndfile_writer();
    std::string error;
    auto file = writer->create("long.wav", "rf64", rate, error);
    ASSERT_TRUE(file) << error;
    std::vector<int16_t> second(2 * rate, 7);
    ASSERT_TRUE(file->write(second.data(), rate));
    ASSERT_TRUE(file->finish()) << file->error();
    EXPECT_EQ(bytes_of("long.wav").substr(0, 4), "RF64");
    EXPECT_EQ(decode("long.wav").samples, second);
}

TEST(sndfile_writer, only_a_finish_replaces_the_earlier_file) {
    tq_test::temp_dir dir;
    tq_test::write_file("keep.wav", "earlier");
    auto writer = make_sndfile_writer();
    std::vector<int16_t> second(2 * rate, 3);
    std::string error;
    {
        auto file = writer->create("keep.wav", "wav", rate, error);
        ASSERT_TRUE(file) << error;
        ASSERT_TRUE(file->write(second.data(), rate));
        EXPECT_EQ(names_in(".").size(), 2u);  // the temporary file beside it
        EXPECT_EQ(bytes_of("keep.wav"), "earlier");
    }
    // Dropped unfinished: the earlier file as it was, nothing else.
    EXPECT_EQ(names_in("."), (std::vector<std::string>{"keep.wav"}));
    EXPECT_EQ(bytes_of("keep.wav"), "earlier");

    auto file = writer->create("keep.wav", "wav", rate, error);
    ASSERT_TRUE(file->write(second.data(), rate));
    ASSERT_TRUE(file->finish());
    EXPECT_EQ(names_in("."), (std::vector<std::string>{"keep.wav"}));
    EXPECT_EQ(decode("keep.wav").samples, second);
}

TEST(sndfile_writer, a_finished_file_that_cannot_be_put_in_place_is_kept_under_its_temporary_name) {
    tq_test::temp_dir dir;
    auto writer = make_sndfile_writer();
    std::vector<int16_t> second(2 * rate, 5);
    std::string error;
    {
        auto file = writer->create("late.wav", "wav", rate, error);
        ASSERT_TRUE(file) << error;
        ASSERT_TRUE(file->write(second.data(), rate));
        // The name is taken by a folder while the sound is written.
        std::filesystem::create_directory("late.wav");
        tq_test::write_file("late.wav/inside", "");
        EXPECT_FALSE(file->finish());
        error = file->error();
    }
    std::vector<std::string> names = names_in(".");
    ASSERT_EQ(names.size(), 2u);
    const std::string kept = names[1];
    EXPECT_EQ(kept.rfind("tonquel-", 0), 0u);
    EXPECT_EQ(error, "Is a directory: the finished file is kept as " + kept);
    EXPECT_EQ(decode(kept).samples, second);
}

TEST(sndfile_writer, a_name_that_cannot_be_written_fails_before_any_frame) {
    tq_test::temp_dir dir;
    std::filesystem::create_directory("taken.wav");
    sndfile_export on;
    auto r = on.run({"--output", "taken.wav", "440,1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tonquel: taken.wav: Is a directory\n");
    r = on.run({"--output", "no/such/dir/x.wav", "440,1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tonquel: no/such/dir/x.wav: No such file or directory\n");
    EXPECT_EQ(names_in("."), (std::vector<std::string>{"taken.wav"}));
}

}  // namespace
