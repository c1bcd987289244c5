#include "platform/windows/wave_audio_winmm.h"

#include <windows.h>
#include <mmddk.h>
#include <mmsystem.h>

#include <array>
#include <string>
#include <vector>

#include "platform/wave_device_choice.h"

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

// WinMM's codes are the same for both directions; the failure text names
// the device, so the code also says which direction failed.
constexpr wave_error input_flag = 0x10000;
// No device of the direction matches the name asked for.
constexpr MMRESULT no_matching_device = 0x8000;
// The device holds blocks and hands none back: WinMM itself never says so.
constexpr MMRESULT device_not_playing = 0x8001;

wave_error to_wave_error(MMRESULT result, bool input = false) {
    if (result == MMSYSERR_NOERROR) return 0;
    return static_cast<wave_error>(result) | (input ? input_flag : 0);
}

std::vector<std::string> output_names() {
    std::vector<std::string> names;
    for (UINT id = 0, count = waveOutGetNumDevs(); id < count; ++id) {
        WAVEOUTCAPSA caps{};
        names.push_back(waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR ? caps.szPname : "");
    }
    return names;
}

std::vector<std::string> input_names() {
    std::vector<std::string> names;
    for (UINT id = 0, count = waveInGetNumDevs(); id < count; ++id) {
        WAVEINCAPSA caps{};
        names.push_back(waveInGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR ? caps.szPname : "");
    }
    return names;
}

// The device the wave mapper plays to or records from; -1 when the system
// does not say.
int preferred_device(bool input) {
    DWORD id = 0;
    DWORD flags = 0;
    const MMRESULT result =
        input ? waveInMessage(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                              DRVM_MAPPER_PREFERRED_GET, reinterpret_cast<DWORD_PTR>(&id),
                              reinterpret_cast<DWORD_PTR>(&flags))
              : waveOutMessage(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                               DRVM_MAPPER_PREFERRED_GET, reinterpret_cast<DWORD_PTR>(&id),
                               reinterpret_cast<DWORD_PTR>(&flags));
    return result == MMSYSERR_NOERROR && id != static_cast<DWORD>(-1) ? static_cast<int>(id) : -1;
}

// The device a run asked for: nullptr is the wave mapper.
struct chosen_device {
    std::string asked;  // as the user named it; "" for the mapper
    UINT id = WAVE_MAPPER;
    std::string name;   // the device's own name
};

// False when the name matches no device of the direction.
bool choose(const char* device_name, const std::vector<std::string>& names, chosen_device& device) {
    device = chosen_device{};
    if (device_name == nullptr) return true;
    device.asked = device_name;
    const int id = choose_wave_device(names, device_name);
    if (id < 0) return false;
    device.id = static_cast<UINT>(id);
    device.name = names[static_cast<std::size_t>(id)];
    return true;
}

class winmm_output final : public wave_output {
public:
    winmm_output(HWAVEOUT handle, HANDLE done_event) : handle_(handle), done_event_(done_event) {}

    ~winmm_output() override {
        waveOutReset(handle_);
        for (slot& s : slots_)
            if (s.header.lpData != nullptr) waveOutUnprepareHeader(handle_, &s.header, sizeof s.header);
        waveOutClose(handle_);
        if (done_event_ != nullptr) CloseHandle(done_event_);
    }

    winmm_output(const winmm_output&) = delete;
    winmm_output& operator=(const winmm_output&) = delete;

    wave_error write(const pcm_block& block) override {
        if (wave_error code = failure()) return code;
        // Nothing to play: done at once, and no header of length 0 goes out.
        if (block.samples == nullptr || block.frames == 0) return 0;
        slot* s = slot_for(block.samples);
        if (s == nullptr) {
            s = slot_for(nullptr);
            if (s == nullptr) return to_wave_error(MMSYSERR_NOMEM);
            *s = slot{};
            s->header.lpData = reinterpret_cast<LPSTR>(block.samples);
        }
        s->header.dwBufferLength = block.frames * block_align;
        s->header.dwLoops = 1;
        // Preparing a prepared header succeeds and changes nothing.
        if (MMRESULT result = waveOutPrepareHeader(handle_, &s->header, sizeof s->header)) return to_wave_error(result);
        if (!any_queued()) started_ms_ = progress_ms_ = GetTickCount64();
        const MMRESULT result = waveOutWrite(handle_, &s->header, sizeof s->header);
        s->queued = result == MMSYSERR_NOERROR;
        if (s->queued) written_frames_ += block.frames;
        return to_wave_error(result);
    }

    bool is_done(const pcm_block& block) override {
        if (failure() != 0 || block.frames == 0) return true;
        const slot* s = slot_for(block.samples);
        return s == nullptr || (flags_of(s->header) & WHDR_DONE) != 0;
    }

    void reset() override {
        waveOutReset(handle_);
        for (slot& s : slots_) s.queued = false;
        written_frames_ = 0;
    }

    // A header is done once the driver has taken it; the sound server
    // behind it (Wine's PulseAudio) may still hold the end. Waits, half a
    // second at most, until the device's position has passed every frame
    // written, and then for the server's own short buffer.
    void drain() override {
        const ULONGLONG until = GetTickCount64() + 500;
        while (GetTickCount64() < until) {
            MMTIME time{};
            time.wType = TIME_SAMPLES;
            if (waveOutGetPosition(handle_, &time, sizeof time) != MMSYSERR_NOERROR || time.wType != TIME_SAMPLES)
                break;
            // The counters wrap after a day of sound; their difference does not.
            if (static_cast<int32_t>(written_frames_ - time.u.sample) <= 0) break;
            Sleep(10);
        }
        Sleep(server_buffer_ms);
    }

    // A driver that stops handing blocks back (its server gone, a device
    // unplugged under it) says nothing; the stall is told as ALSA's is.
    wave_error failure() override {
        if (failed_ != 0) return failed_;
        const ULONGLONG now = GetTickCount64();
        // A caller that looked last long ago was held itself (the process
        // stopped, the machine asleep): the device gets its start window
        // again. Every caller looks several times a second while it plays.
        if (last_look_ms_ != 0 && now - last_look_ms_ > 2000) started_ms_ = progress_ms_ = now;
        last_look_ms_ = now;
        for (slot& s : slots_) {
            if (s.queued && (flags_of(s.header) & WHDR_DONE) != 0) {
                s.queued = false;
                progress_ms_ = now;
            }
        }
        if (any_queued() && now - progress_ms_ > static_cast<ULONGLONG>(device_stall_limit_ms) &&
            now - started_ms_ > static_cast<ULONGLONG>(device_start_limit_ms)) {
            failed_ = to_wave_error(device_not_playing);
        }
        return failed_;
    }

    wait_handle ready_handle() override {
        if (done_event_ == nullptr) return {};
        return {reinterpret_cast<intptr_t>(done_event_), wait_handle::ready::counter};
    }

private:
    struct slot {
        WAVEHDR header{};
        bool queued = false;  // written and not yet seen done
    };

    slot* slot_for(const int16_t* samples) {
        for (slot& s : slots_)
            if (reinterpret_cast<const int16_t*>(s.header.lpData) == samples) return &s;
        return nullptr;
    }

    bool any_queued() const {
        for (const slot& s : slots_)
            if (s.queued) return true;
        return false;
    }

    HWAVEOUT handle_;
    // The caller plays from a few blocks in rotation; spares cost nothing.
    std::array<slot, 16> slots_{};
    ULONGLONG started_ms_ = 0;
    ULONGLONG progress_ms_ = 0;
    ULONGLONG last_look_ms_ = 0;
    DWORD written_frames_ = 0;  // since the open or the last reset
    static constexpr DWORD server_buffer_ms = 100;
    wave_error failed_ = 0;
    // Signalled by the driver as each header is done (and at open and
    // close); only for a short queue, which sleeps on it.
    HANDLE done_event_ = nullptr;
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
        begin(block);
        // Nothing to record into: no header of length 0 goes to the driver.
        if (block.samples == nullptr || block.frames == 0) return 0;
        return add_and_start(0, block.frames);
    }

    // The ring is recorded a chunk at a time, a few headers in rotation:
    // each one that comes back full goes out again for the chunk after the
    // last one queued.
    wave_error start_ring(const pcm_block& ring) override {
        begin(ring);
        if (ring.samples == nullptr || ring.frames < chunk_frames * ring_headers) return 0;
        ring_ = true;
        for (std::size_t i = 1; i < ring_headers; ++i)
            if (wave_error code = add(i, static_cast<uint32_t>(i) * chunk_frames, chunk_frames)) return code;
        return add_and_start(0, chunk_frames);
    }

    uint64_t recorded() override {
        // One block comes back once, full: until then nothing is known.
        if (!ring_)
            return (flags_of(headers_[0]) & WHDR_DONE) != 0
                       ? static_cast<const volatile DWORD&>(headers_[0].dwBytesRecorded) / block_align
                       : 0;
        const uint32_t chunks = block_.frames / chunk_frames;
        for (;;) {
            WAVEHDR& oldest = headers_[static_cast<std::size_t>(chunks_done_ % ring_headers)];
            if ((static_cast<const volatile DWORD&>(oldest.dwFlags) & WHDR_DONE) == 0) break;
            ++chunks_done_;
            const uint64_t next = chunks_done_ + ring_headers - 1;
            waveInUnprepareHeader(handle_, &oldest, sizeof oldest);
            if (add(static_cast<std::size_t>((chunks_done_ - 1) % ring_headers),
                    static_cast<uint32_t>(next % chunks) * chunk_frames, chunk_frames) != 0)
                break;
        }
        return chunks_done_ * chunk_frames;
    }

    // waveInStop hands back the partly filled buffer with its byte count.
    uint32_t stop() override {
        recording_ = false;
        if (headers_[0].lpData == nullptr) return 0;
        if (ring_) {
            const uint64_t frames = recorded();
            waveInStop(handle_);
            return static_cast<uint32_t>(frames < UINT32_MAX ? frames : UINT32_MAX);
        }
        waveInStop(handle_);
        return static_cast<const volatile DWORD&>(headers_[0].dwBytesRecorded) / block_align;
    }

    void reset() override {
        waveInReset(handle_);
        recording_ = false;
    }

    // A driver whose input stops coming (its server gone, a microphone
    // unplugged) says nothing: the position that stands still tells it.
    wave_error failure() override {
        if (failed_ != 0 || !recording_) return failed_;
        MMTIME position{};
        position.wType = TIME_BYTES;
        const ULONGLONG now = GetTickCount64();
        const bool known = waveInGetPosition(handle_, &position, sizeof position) == MMSYSERR_NOERROR;
        if (known && position.u.cb != last_position_) {
            last_position_ = position.u.cb;
            progress_ms_ = now;
        }
        // A block recorded full has nothing more to take.
        const bool full = !ring_ && (flags_of(headers_[0]) & WHDR_DONE) != 0;
        if (!full && now - progress_ms_ > static_cast<ULONGLONG>(device_stall_limit_ms) &&
            now - started_ms_ > static_cast<ULONGLONG>(device_start_limit_ms))
            failed_ = to_wave_error(device_not_playing, true);
        return failed_;
    }

private:
    static constexpr uint32_t chunk_frames = 100;  // a tenth of a second
    static constexpr std::size_t ring_headers = 4;

    void begin(const pcm_block& block) {
        waveInReset(handle_);
        unprepare();
        block_ = block;
        ring_ = false;
        chunks_done_ = 0;
        recording_ = block.samples != nullptr && block.frames > 0;
        started_ms_ = progress_ms_ = GetTickCount64();
        last_position_ = 0;
    }

    wave_error add(std::size_t index, uint32_t first_frame, uint32_t frames) {
        WAVEHDR& header = headers_[index];
        header = WAVEHDR{};
        header.lpData = reinterpret_cast<LPSTR>(block_.samples + std::size_t{first_frame} * 2);
        header.dwBufferLength = frames * block_align;
        MMRESULT result = waveInPrepareHeader(handle_, &header, sizeof header);
        if (result != MMSYSERR_NOERROR) {
            header = WAVEHDR{};
            return to_wave_error(result, true);
        }
        result = waveInAddBuffer(handle_, &header, sizeof header);
        if (result != MMSYSERR_NOERROR) unprepare();
        return to_wave_error(result, true);
    }

    wave_error add_and_start(uint32_t first_frame, uint32_t frames) {
        MMRESULT result = static_cast<MMRESULT>(add(0, first_frame, frames) & ~input_flag);
        if (result == MMSYSERR_NOERROR) result = waveInStart(handle_);
        if (result != MMSYSERR_NOERROR) unprepare();
        return to_wave_error(result, true);
    }

    void unprepare() {
        for (WAVEHDR& header : headers_) {
            if (header.lpData != nullptr) waveInUnprepareHeader(handle_, &header, sizeof header);
            header = WAVEHDR{};
        }
    }

    HWAVEIN handle_;
    pcm_block block_{};
    bool ring_ = false;
    bool recording_ = false;
    ULONGLONG started_ms_ = 0;
    ULONGLONG progress_ms_ = 0;
    DWORD last_position_ = 0;
    wave_error failed_ = 0;
    uint64_t chunks_done_ = 0;
    std::array<WAVEHDR, ring_headers> headers_{};
};

struct winmm_wave_audio final : wave_audio {
    std::vector<wave_device_entry> list_devices() override {
        std::vector<wave_device_entry> devices;
        const auto add = [&devices](wave_direction direction, const std::vector<std::string>& names, int preferred) {
            for (std::size_t id = 0; id < names.size(); ++id)
                devices.push_back({direction, std::to_string(id), names[id], static_cast<int>(id) == preferred});
        };
        // Wine knows the preferred devices only once they are counted.
        const std::vector<std::string> outputs = output_names();
        add(wave_direction::output, outputs, preferred_device(false));
        const std::vector<std::string> inputs = input_names();
        add(wave_direction::input, inputs, preferred_device(true));
        return devices;
    }

    // A named device is asked about alone; the default is any device that
    // the wave mapper may choose.
    wave_probe_result probe(const char* output_device, const char* input_device) override {
        wave_probe_result result;
        chosen_device output;
        if (choose(output_device, output_names(), output)) {
            for (UINT id = 0, count = waveOutGetNumDevs(); id < count && !result.output_ok; ++id) {
                if (output.id != WAVE_MAPPER && id != output.id) continue;
                WAVEOUTCAPSA caps{};
                result.output_ok = waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                                   (caps.dwFormats & WAVE_FORMAT_4S16) != 0;
            }
        }
        chosen_device input;
        if (choose(input_device, input_names(), input)) {
            for (UINT id = 0, count = waveInGetNumDevs(); id < count && !result.input_ok; ++id) {
                if (input.id != WAVE_MAPPER && id != input.id) continue;
                WAVEINCAPSA caps{};
                result.input_ok = waveInGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                                  (caps.dwFormats & WAVE_FORMAT_4M16) != 0;
            }
        }
        return result;
    }

    // WinMM opens at once or fails: the answer limit has nothing to cut.
    // The two one-second blocks are polled as they always were; a short
    // queue is woken by the driver's event instead, as each block is done.
    wave_error open_output(const char* device_name, std::unique_ptr<wave_output>& device, int,
                           int queue_ms) override {
        if (!choose(device_name, output_names(), output_)) return to_wave_error(no_matching_device);
        WAVEFORMATEX format = pcm_format(44100);
        HWAVEOUT handle = nullptr;
        HANDLE done_event = queue_ms < long_queue_ms ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
        MMRESULT result =
            done_event != nullptr
                ? waveOutOpen(&handle, output_.id, &format, reinterpret_cast<DWORD_PTR>(done_event), 0, CALLBACK_EVENT)
                : waveOutOpen(&handle, output_.id, &format, 0, 0, CALLBACK_NULL);
        if (result != MMSYSERR_NOERROR) {
            if (done_event != nullptr) CloseHandle(done_event);
            return to_wave_error(result);
        }
        // Full volume on both channels; the result does not matter.
        waveOutSetVolume(handle, 0xFFFFFFFF);
        device = std::make_unique<winmm_output>(handle, done_event);
        return 0;
    }

    wave_error open_input(const char* device_name, std::unique_ptr<wave_input>& device, int) override {
        if (!choose(device_name, input_names(), input_)) return to_wave_error(no_matching_device, true);
        WAVEFORMATEX format = pcm_format(1000);
        HWAVEIN handle = nullptr;
        MMRESULT result = waveInOpen(&handle, input_.id, &format, 0, 0, CALLBACK_NULL);
        if (result != MMSYSERR_NOERROR) return to_wave_error(result, true);
        device = std::make_unique<winmm_input>(handle);
        return 0;
    }

    // WinMM's own text; for a device the user named, which one it was.
    std::string error_text(wave_error code) override {
        const bool input = (code & input_flag) != 0;
        const auto result = static_cast<MMRESULT>(code & ~input_flag);
        const chosen_device& device = input ? input_ : output_;
        const char* direction = input ? "input" : "output";
        if (result == no_matching_device)
            return std::string("no ") + direction + " device matches \"" + device.asked +
                   "\"; check the name against the list that --list-devices prints";
        if (result == device_not_playing)
            return std::string("the ") + direction + " device did not " + (input ? "record" : "play") + " for " +
                   std::to_string(device_stall_limit_ms / 1000) +
                   " seconds; the sound server may be stopped or hung, or the device gone";
        char text[error_text_size] = "";
        const MMRESULT found = input ? waveInGetErrorTextA(result, text, error_text_size)
                                     : waveOutGetErrorTextA(result, text, error_text_size);
        std::string said = found == MMSYSERR_NOERROR ? text : "unknown wave-audio error " + std::to_string(code);
        if (device.id != WAVE_MAPPER)
            said += " (" + std::string(direction) + " device " + std::to_string(device.id) + ", \"" + device.name +
                    "\")";
        return said;
    }

private:
    // The devices of the last openings, which the failures name.
    chosen_device output_;
    chosen_device input_;
};

}  // namespace

std::unique_ptr<wave_audio> make_winmm_wave_audio() {
    return std::make_unique<winmm_wave_audio>();
}
