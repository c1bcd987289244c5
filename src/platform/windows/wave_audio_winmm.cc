#include "platform/windows/wave_audio_winmm.h"

#include <windows.h>
#include <mmsystem.h>

#include <array>
#include <string>

namespace {

constexpr WORD block_align = 4;  // two 16-bit samples per frame
constexpr UINT error_text_size = 1000;

WAVEFORMATEX pcm_format(DWORD rate) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.cbSize = 0;
    return format;
}

// The driver sets the flags from its own thread.
DWORD flags_of(const WAVEHDR& header) {
    return static_cast<const volatile DWORD&>(header.dwFlags);
}

wave_error to_wave_error(MMRESULT result) {
    return static_cast<wave_error>(result);
}

class winmm_output final : public wave_output {
public:
    explicit winmm_output(HWAVEOUT handle) : handle_(handle) {}

    ~winmm_output() override {
        waveOutReset(handle_);
        for (WAVEHDR& header : headers_)
            if (header.lpData != nullptr) waveOutUnprepareHeader(handle_, &header, sizeof header);
        waveOutClose(handle_);
    }

    winmm_output(const winmm_output&) = delete;
    winmm_output& operator=(const winmm_output&) = delete;

    wave_error write(const pcm_block& block) override {
        WAVEHDR* header = header_for(block.samples);
        if (header == nullptr) {
            header = header_for(nullptr);
            if (header == nullptr) return to_wave_error(MMSYSERR_NOMEM);
            *header = WAVEHDR{};
            header->lpData = reinterpret_cast<LPSTR>(block.samples);
            header->dwBufferLength = block.frames * block_align;
            header->dwLoops = 1;
        }
        // Preparing a prepared header succeeds and changes nothing.
        if (MMRESULT result = waveOutPrepareHeader(handle_, header, sizeof *header)) return to_wave_error(result);
        return to_wave_error(waveOutWrite(handle_, header, sizeof *header));
    }

    bool is_done(const pcm_block& block) override {
        const WAVEHDR* header = header_for(block.samples);
        return header == nullptr || (flags_of(*header) & WHDR_DONE) != 0;
    }

    void reset() override { waveOutReset(handle_); }

private:
    WAVEHDR* header_for(const int16_t* samples) {
        for (WAVEHDR& header : headers_)
            if (reinterpret_cast<const int16_t*>(header.lpData) == samples) return &header;
        return nullptr;
    }

    HWAVEOUT handle_;
    // The caller plays from two blocks; a spare costs nothing.
    std::array<WAVEHDR, 4> headers_{};
};

class winmm_input final : public wave_input {
public:
    explicit winmm_input(HWAVEIN handle) : handle_(handle) {}

    ~winmm_input() override {
        waveInReset(handle_);
        unprepare();
        waveInClose(handle_);
    }

    winmm_input(const winmm_input&) = delete;
    winmm_input& operator=(const winmm_input&) = delete;

    wave_error start(const pcm_block& block) override {
        waveInReset(handle_);
        unprepare();
        header_ = WAVEHDR{};
        header_.lpData = reinterpret_cast<LPSTR>(block.samples);
        header_.dwBufferLength = block.frames * block_align;
        MMRESULT result = waveInPrepareHeader(handle_, &header_, sizeof header_);
        if (result != MMSYSERR_NOERROR) {
            header_ = WAVEHDR{};
            return to_wave_error(result);
        }
        result = waveInAddBuffer(handle_, &header_, sizeof header_);
        if (result == MMSYSERR_NOERROR) result = waveInStart(handle_);
        if (result != MMSYSERR_NOERROR) unprepare();
        return to_wave_error(result);
    }

    // waveInStop hands back the partly filled buffer with its byte count.
    uint32_t stop() override {
        waveInStop(handle_);
        return static_cast<const volatile DWORD&>(header_.dwBytesRecorded) / block_align;
    }

    void reset() override { waveInReset(handle_); }

private:
    void unprepare() {
        if (header_.lpData != nullptr) waveInUnprepareHeader(handle_, &header_, sizeof header_);
        header_ = WAVEHDR{};
    }

    HWAVEIN handle_;
    WAVEHDR header_{};
};

struct winmm_wave_audio final : wave_audio {
    wave_probe_result probe() override {
        wave_probe_result result;
        for (UINT id = 0, count = waveOutGetNumDevs(); id < count && !result.output_ok; ++id) {
            WAVEOUTCAPSA caps{};
            result.output_ok = waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                               (caps.dwFormats & WAVE_FORMAT_4S16) != 0;
        }
        for (UINT id = 0, count = waveInGetNumDevs(); id < count && !result.input_ok; ++id) {
            WAVEINCAPSA caps{};
            result.input_ok = waveInGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                              (caps.dwFormats & WAVE_FORMAT_4M16) != 0;
        }
        return result;
    }

    wave_error open_output(std::unique_ptr<wave_output>& device) override {
        WAVEFORMATEX format = pcm_format(44100);
        HWAVEOUT handle = nullptr;
        MMRESULT result = waveOutOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
        if (result != MMSYSERR_NOERROR) return to_wave_error(result);
        // Full volume on both channels; the result does not matter.
        waveOutSetVolume(handle, 0xFFFFFFFF);
        device = std::make_unique<winmm_output>(handle);
        return 0;
    }

    wave_error open_input(std::unique_ptr<wave_input>& device) override {
        WAVEFORMATEX format = pcm_format(1000);
        HWAVEIN handle = nullptr;
        MMRESULT result = waveInOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
        if (result != MMSYSERR_NOERROR) return to_wave_error(result);
        device = std::make_unique<winmm_input>(handle);
        return 0;
    }

    // One text source for the codes of both directions.
    std::string error_text(wave_error code) override {
        char text[error_text_size] = "";
        if (waveOutGetErrorTextA(static_cast<MMRESULT>(code), text, error_text_size) != MMSYSERR_NOERROR)
            return "unknown wave-audio error " + std::to_string(code);
        return text;
    }
};

}  // namespace

std::unique_ptr<wave_audio> make_winmm_wave_audio() {
    return std::make_unique<winmm_wave_audio>();
}
