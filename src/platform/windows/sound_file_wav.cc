#include "platform/windows/sound_file_wav.h"

#include "platform/windows/system_text.h"

#include "platform/wave_audio.h"

#include <windows.h>
#include <mmreg.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr WORD channels = 2;
constexpr DWORD frame_rate = 44100;
constexpr WORD bits = 16;

// A new file beside path, named as the Linux program names it, open for
// writing; it is put in place only when complete.
HANDLE create_temporary(const std::string& path, std::string& temporary, std::string& error) {
    const std::string::size_type slash = path.find_last_of("/\\:");
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    HANDLE file = INVALID_HANDLE_VALUE;
    const bool created = create_temporary_in(folder, temporary, [&file](const std::string& name) {
        file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return create_result::created;
        return GetLastError() == ERROR_FILE_EXISTS ? create_result::name_taken : create_result::failed;
    });
    if (!created) error = system_text(GetLastError());
    return created ? file : INVALID_HANDLE_VALUE;
}

void put_le(unsigned char* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The RIFF form with its format chunk and the head of the data chunk.
constexpr DWORD header_bytes = 44;
// The RIFF size counts the header after its first 8 bytes, and the data.
constexpr uint64_t data_bytes_max = UINT32_MAX - (header_bytes - 8);

void fill_header(unsigned char* header, uint32_t data_bytes) {
    memcpy(header, "RIFF", 4);
    put_le(header + 4, data_bytes + (header_bytes - 8), 4);
    memcpy(header + 8, "WAVEfmt ", 8);
    put_le(header + 16, 16, 4);
    put_le(header + 20, WAVE_FORMAT_PCM, 2);
    put_le(header + 22, channels, 2);
    put_le(header + 24, frame_rate, 4);
    put_le(header + 28, frame_rate * bytes_per_frame, 4);
    put_le(header + 32, bytes_per_frame, 2);
    put_le(header + 34, bits, 2);
    memcpy(header + 36, "data", 4);
    put_le(header + 40, data_bytes, 4);
}

// Written with the file API's 64-bit offsets: WinMM's RIFF services keep
// theirs in signed 32 bits and write a broken header past 2 GiB.
class wav_sound_file final : public sound_file {
public:
    wav_sound_file(std::string path, std::string temporary, HANDLE file)
        : path_(std::move(path)), temporary_(std::move(temporary)), file_(file) {}
    wav_sound_file(const wav_sound_file&) = delete;
    wav_sound_file& operator=(const wav_sound_file&) = delete;

    ~wav_sound_file() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        if (!finished_) DeleteFileA(temporary_.c_str());
    }

    // The header's sizes are filled in when the file is finished.
    bool open() {
        unsigned char header[header_bytes];
        fill_header(header, 0);
        return write_bytes(header, header_bytes);
    }

    bool write(const int16_t* samples, uint32_t frames) override {
        const uint64_t bytes = uint64_t{frames} * bytes_per_frame;
        if (data_bytes_ + bytes > data_bytes_max) {
            error_ = "longer than a WAV file can hold (6 h 45 min)";
            return false;
        }
        if (!write_bytes(samples, bytes)) return false;
        data_bytes_ += bytes;
        return true;
    }

    bool finish() override {
        unsigned char header[header_bytes];
        fill_header(header, static_cast<uint32_t>(data_bytes_));
        LARGE_INTEGER start{};
        if (!SetFilePointerEx(file_, start, nullptr, FILE_BEGIN) || !write_bytes(header, header_bytes)) return false;
        // The sound is on the disk before the name points at it, and the
        // move is on the disk when it returns: after a power cut the name
        // holds the earlier file or the whole new one.
        if (!FlushFileBuffers(file_)) return failed();
        BOOL closed = CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        if (!closed) return failed();
        if (!MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            // The earlier file open in a player, or read-only: the finished
            // sound stays where it is, and the user is told where.
            failed();
            error_ += ": the finished file is kept as " + temporary_;
            finished_ = true;
            return false;
        }
        finished_ = true;
        return true;
    }

    std::string error() const override { return error_; }

private:
    bool write_bytes(const void* data, uint64_t bytes) {
        const char* at = static_cast<const char*>(data);
        while (bytes > 0) {
            const DWORD chunk = bytes > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(bytes);
            DWORD written = 0;
            if (!WriteFile(file_, at, chunk, &written, nullptr)) return failed();
            if (written == 0) {
                error_ = system_text(ERROR_DISK_FULL);
                return false;
            }
            at += written;
            bytes -= written;
        }
        return true;
    }

    bool failed() {
        DWORD code = GetLastError();
        error_ = code != 0 ? system_text(code) : "cannot write the file";
        return false;
    }

    std::string path_;
    std::string temporary_;
    HANDLE file_;
    uint64_t data_bytes_ = 0;
    std::string error_;
    bool finished_ = false;
};

class wav_writer final : public sound_file_writer {
public:
    std::vector<std::string> types() override { return {"wav"}; }

    std::unique_ptr<sound_file> create(const std::string& path, const std::string& type, uint64_t,
                                       std::string& error) override {
        if (type == "rf64") {
            error = "longer than a WAV file can hold (6 h 45 min), and this system writes no RF64";
            return nullptr;
        }
        if (type != "wav") {
            error = "cannot write " + type + " files";
            return nullptr;
        }
        // Found now rather than at the rename, after all the work.
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error = strerror(EISDIR);
            return nullptr;
        }
        std::string temporary;
        HANDLE handle = create_temporary(path, temporary, error);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        auto file = std::make_unique<wav_sound_file>(path, temporary, handle);
        if (!file->open()) {
            error = file->error();
            return nullptr;
        }
        return file;
    }
};

}  // namespace

std::unique_ptr<sound_file_writer> make_wav_writer() {
    return std::make_unique<wav_writer>();
}
