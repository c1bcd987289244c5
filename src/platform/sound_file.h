#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

// Sound files written instead of playing: 16-bit stereo PCM at 44100
// frames/s, two samples per frame, left first.

// A file being written. It is written under a temporary name beside its
// final one and put in place only by finish(), so that a failed or
// interrupted export never destroys an earlier file of that name.
struct sound_file {
    // Unless finished, removes what was written and leaves any earlier file
    // of the final name as it was.
    virtual ~sound_file() = default;
    // Appends the frames. False on failure, with the reason in error().
    virtual bool write(const int16_t* samples, uint32_t frames) = 0;
    // Completes the file and puts it in place. False on failure, with the
    // reason in error(); the earlier file is then kept. When only putting it
    // in place failed, the finished file stays under its temporary name,
    // which error() gives.
    virtual bool finish() = 0;
    // The system's text for the last failure.
    virtual std::string error() const = 0;
};

struct sound_file_writer {
    virtual ~sound_file_writer() = default;
    // The types that this system writes, as the lower-case file name endings
    // that choose them ("wav", "flac", ...), in the order to list them. Empty
    // where the system writes none.
    virtual std::vector<std::string> types() = 0;
    // Starts a file of one of those types, or of "rf64", the WAV for more
    // than 4 GiB. frames is how many will be written. nullptr on failure,
    // with the system's text in error.
    virtual std::unique_ptr<sound_file> create(const std::string& path, const std::string& type, uint64_t frames,
                                               std::string& error) = 0;
};

// For a system whose back end writes no sound files.
struct no_sound_file_writer final : sound_file_writer {
    std::vector<std::string> types() override { return {}; }
    std::unique_ptr<sound_file> create(const std::string&, const std::string&, uint64_t, std::string& error) override {
        error = "sound files are not supported on this system";
        return nullptr;
    }
};

inline sound_file_writer& none_sound_file_writer() {
    static no_sound_file_writer none;
    return none;
}

// What a back end's attempt to create a file only if its name is free gave.
enum class create_result { created, name_taken, failed };

// Creates the temporary file that an export is written to before it takes
// its name: "tonquel-XXXXXX.part" in folder (empty, or ending in its
// separator), through create(name), trying other names while they are
// taken. False when create failed otherwise; temporary is the last name.
template <class Create>
bool create_temporary_in(const std::string& folder, std::string& temporary, Create create) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<size_t> pick(0, sizeof letters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + "tonquel-";
        for (int i = 0; i < 6; ++i) temporary += letters[pick(random)];
        temporary += ".part";
        const create_result result = create(temporary);
        if (result != create_result::name_taken) return result == create_result::created;
    }
    return false;
}

