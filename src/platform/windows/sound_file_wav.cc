#include "platform/windows/sound_file_wav.h"

#include "platform/wave_audio.h"

#include <windows.h>
#include <mmsystem.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr WORD channels = 2;
constexpr DWORD frame_rate = 44100;
constexpr WORD bits = 16;

std::string system_text(DWORD code) {
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = '\0';
    return length > 0 ? text : "system error " + std::to_string(code);
}

// A new file beside path, named as the Linux program names it; it is put in
// place only when complete.
bool create_temporary(const std::string& path, std::string& temporary, std::string& error) {
    const std::string::size_type slash = path.find_last_of("/\\:");
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const bool created = create_temporary_in(folder, temporary, [](const std::string& name) {
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return GetLastError() == ERROR_FILE_EXISTS ? create_result::name_taken : create_result::failed;
        CloseHandle(file);
        return create_result::created;
    });
    if (!created) error = system_text(GetLastError());
    return created;
}

class wav_sound_file final : public sound_file {
public:
    wav_sound_file(std::string path, std::string temporary) : path_(std::move(path)), temporary_(std::move(temporary)) {}
    wav_sound_file(const wav_sound_file&) = delete;
    wav_sound_file& operator=(const wav_sound_file&) = delete;

    ~wav_sound_file() override {
        if (file_ != nullptr) mmioClose(file_, 0);
        if (!finished_) DeleteFileA(temporary_.c_str());
    }

    // The RIFF form and its format chunk; the data chunk stays open for the
    // frames, its size written when it is closed.
    bool open() {
        file_ = mmioOpenA(const_cast<char*>(temporary_.c_str()), nullptr, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF);
        if (file_ == nullptr) return failed();
        riff_.fccType = mmioFOURCC('W', 'A', 'V', 'E');
        if (mmioCreateChunk(file_, &riff_, MMIO_CREATERIFF) != MMSYSERR_NOERROR) return failed();
        MMCKINFO format_chunk{};
        format_chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
        PCMWAVEFORMAT format{};
        format.wf.wFormatTag = WAVE_FORMAT_PCM;
        format.wf.nChannels = channels;
        format.wf.nSamplesPerSec = frame_rate;
        format.wf.nBlockAlign = static_cast<WORD>(static_cast<DWORD>(bytes_per_frame));
        format.wf.nAvgBytesPerSec = frame_rate * static_cast<DWORD>(bytes_per_frame);
        format.wBitsPerSample = bits;
        if (mmioCreateChunk(file_, &format_chunk, 0) != MMSYSERR_NOERROR ||
            mmioWrite(file_, reinterpret_cast<const char*>(&format), sizeof format) != sizeof format ||
            mmioAscend(file_, &format_chunk, 0) != MMSYSERR_NOERROR)
            return failed();
        data_.ckid = mmioFOURCC('d', 'a', 't', 'a');
        if (mmioCreateChunk(file_, &data_, 0) != MMSYSERR_NOERROR) return failed();
        return true;
    }

    bool write(const int16_t* samples, uint32_t frames) override {
        const LONG bytes = static_cast<LONG>(frames * static_cast<DWORD>(bytes_per_frame));
        if (mmioWrite(file_, reinterpret_cast<const char*>(samples), bytes) == bytes) return true;
        return failed();
    }

    bool finish() override {
        bool written = mmioAscend(file_, &data_, 0) == MMSYSERR_NOERROR &&
                       mmioAscend(file_, &riff_, 0) == MMSYSERR_NOERROR;
        if (!written) return failed();
        MMRESULT closed = mmioClose(file_, 0);
        file_ = nullptr;
        if (closed != MMSYSERR_NOERROR) return failed();
        if (!MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) return failed();
        finished_ = true;
        return true;
    }

    std::string error() const override { return error_; }

private:
    bool failed() {
        DWORD code = GetLastError();
        error_ = code != 0 ? system_text(code) : "cannot write the file";
        return false;
    }

    std::string path_;
    std::string temporary_;
    HMMIO file_ = nullptr;
    MMCKINFO riff_{};
    MMCKINFO data_{};
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
        if (!create_temporary(path, temporary, error)) return nullptr;
        auto file = std::make_unique<wav_sound_file>(path, temporary);
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
