#pragma once

// A stream that a test hands to the code as standard output, standard error
// or a session file, and then reads back. A temporary file rather than a
// memory stream, so that the same tests build for every system.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace tq_test {

// The error of opening a directory as a file for writing: Windows' C library
// says access is denied.
#ifdef _WIN32
inline constexpr int directory_open_error = EACCES;
#else
inline constexpr int directory_open_error = EISDIR;
#endif

// A name in the temporary folder that nobody else uses.
inline std::filesystem::path unique_temp_path(const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    static const unsigned long long salt = std::random_device{}();
    return std::filesystem::temp_directory_path() /
           (stem + "." + std::to_string(salt) + "." + std::to_string(counter++));
}

class captured_stream {
public:
    captured_stream() : path_(unique_temp_path("tonquel-stream")) {
        file_ = std::fopen(path_.string().c_str(), "w+b");
    }
    ~captured_stream() {
        if (file_ != nullptr) std::fclose(file_);
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    captured_stream(const captured_stream&) = delete;
    captured_stream& operator=(const captured_stream&) = delete;

    FILE* file() const { return file_; }

    // Everything written so far.
    std::string text() const {
        std::fflush(file_);
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }

private:
    std::filesystem::path path_;
    FILE* file_ = nullptr;
};

}  // namespace tq_test
