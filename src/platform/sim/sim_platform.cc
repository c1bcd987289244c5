#include "platform/sim/sim_platform.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

#include "platform/civil_time.h"
#include "platform/wave_device_choice.h"
#include "process/exit.h"

namespace {

constexpr int64_t output_rate = 44100;
constexpr int64_t input_rate = 1000;

}  // namespace

// Plays queued blocks in virtual real time from the moment it opens.
struct sim_output_device final : wave_output {
    struct queued {
        const int16_t* samples;
        uint32_t frames;
        uint32_t played;
    };

    sim_wave_audio& audio;
    size_t opening;
    int64_t opened_ms;
    uint64_t frames_due = 0;
    uint64_t played_since_reset = 0;
    std::deque<queued> queue;
    // As a real device tells a stall: the stream's start and its last
    // progress, from the first block after an idle spell.
    int64_t started_ms = -1;
    int64_t progress_ms = -1;
    wave_error stopped_answering = 0;

    sim_output_device(sim_wave_audio& a, size_t index, int64_t now) : audio(a), opening(index), opened_ms(now) {}

    ~sim_output_device() override {
        queue.clear();
        audio.outputs[opening].closed_ms = audio.owner_.now_ms();
        --audio.open_output_devices;
        auto& playing = audio.playing_;
        playing.erase(std::remove(playing.begin(), playing.end(), this), playing.end());
    }

    wave_error write(const pcm_block& block) override {
        ++audio.writes;
        if (wave_error code = failure()) return code;
        if (audio.writes == audio.fail_write_number) return audio.fail_write_code;
        if (block.samples == nullptr || block.frames == 0) return 0;  // nothing to play: done at once
        if (queue.empty()) {
            const int64_t now = audio.owner_.now_ms();
            if (started_ms < 0) started_ms = now;
            progress_ms = now;
        }
        queue.push_back({block.samples, block.frames, 0});
        uint64_t frames = 0;
        for (const queued& q : queue) frames += q.frames - q.played;
        sim_output_opening& record = audio.outputs[opening];
        record.most_queued_frames = std::max(record.most_queued_frames, frames);
        return 0;
    }

    bool is_done(const pcm_block& block) override {
        if (failure() != 0) return true;
        return std::none_of(queue.begin(), queue.end(), [&](const queued& q) { return q.samples == block.samples; });
    }

    void reset() override {
        queue.clear();
        played_since_reset = 0;
        started_ms = -1;
        if (audio.fail_reset_output != 0) stopped_answering = audio.fail_reset_output;
    }

    uint64_t underruns() override {
        const int64_t now = audio.owner_.now_ms();
        return static_cast<uint64_t>(std::count_if(audio.underruns_at_ms.begin(), audio.underruns_at_ms.end(),
                                                   [&](int64_t at) { return at > opened_ms && at <= now; }));
    }

    wave_error failure() override {
        if (audio.lost(opened_ms)) return audio.outage.code;
        if (stopped_answering == 0 && !queue.empty()) {
            const int64_t now = audio.owner_.now_ms();
            if (now - progress_ms > device_stall_limit_ms && now - started_ms > device_start_limit_ms) {
                stopped_answering = sim_wave_audio::not_playing;
                queue.clear();
            }
        }
        return stopped_answering;
    }

    wait_handle ready_handle() override { return {reinterpret_cast<intptr_t>(this), wait_handle::ready::counter}; }

    // Exact, while the sound moves.
    int64_t played_frames() override {
        if (!audio.keeps_clock || queue.empty() || failure() != 0 || audio.is_frozen()) return -1;
        return static_cast<int64_t>(played_since_reset);
    }

    // When the oldest queued block will have played out; -1 for none.
    int64_t next_done_ms() const {
        if (queue.empty() || stopped_answering != 0 || audio.is_frozen()) return -1;
        const uint64_t end = frames_due + (queue.front().frames - queue.front().played);
        // The first millisecond by which play_until has played frame end.
        const uint64_t ms = (end * 1000 + output_rate - 1) / output_rate;
        return opened_ms + static_cast<int64_t>(ms);
    }

    // Plays the frames that fall due by virtual time now_ms.
    void play_until(int64_t now_ms) {
        uint64_t due = static_cast<uint64_t>((now_ms - opened_ms) * output_rate / 1000);
        uint64_t frames = due - frames_due;
        frames_due = due;
        sim_output_opening& record = audio.outputs[opening];
        if (audio.lost(opened_ms) || stopped_answering != 0) {
            queue.clear();  // a failed device hands every block back
            return;
        }
        if (audio.is_frozen()) return;
        if (frames > 0 && !queue.empty()) progress_ms = now_ms;
        while (frames > 0 && !queue.empty()) {
            queued& head = queue.front();
            uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(frames, head.frames - head.played));
            if (audio.record_samples)
                record.samples.insert(record.samples.end(), head.samples + 2 * head.played,
                                      head.samples + 2 * (head.played + take));
            head.played += take;
            played_since_reset += take;
            record.frames_played += take;
            frames -= take;
            if (head.played == head.frames) queue.pop_front();
        }
        record.underrun_frames += frames;
    }
};

// Records the input signal at 1000 frames/s from start() until stop().
struct sim_input_device final : wave_input {
    sim_wave_audio& audio;
    size_t opening;
    pcm_block block{};
    bool recording = false;
    bool ring = false;
    bool stopped = false;
    uint64_t filled = 0;  // frames of the ring filled so far

    sim_input_device(sim_wave_audio& a, size_t index) : audio(a), opening(index) {}

    ~sim_input_device() override {
        audio.inputs[opening].closed_ms = audio.owner_.now_ms();
        --audio.open_input_devices;
    }

    wave_error start(const pcm_block& target) override {
        if (audio.fail_start_input != 0) return audio.fail_start_input;
        block = target;
        recording = true;
        ring = false;
        audio.inputs[opening].started_ms = audio.owner_.now_ms();
        return 0;
    }

    wave_error start_ring(const pcm_block& target) override {
        const wave_error code = start(target);
        ring = code == 0 && target.frames > 0;
        filled = 0;
        return code;
    }

    // Frames recorded from the start until now, or until a loss.
    uint64_t frames_so_far() const {
        const sim_input_opening& record = audio.inputs[opening];
        int64_t until = audio.owner_.now_ms() - audio.input_delay_ms;
        if (audio.lost(record.opened_ms)) until = std::min(until, audio.outage.from_ms);
        if (audio.input_lost(record.opened_ms)) until = std::min(until, audio.input_outage.from_ms);
        until = std::max(until, record.started_ms);
        return static_cast<uint64_t>((until - record.started_ms) * input_rate / 1000);
    }

    std::pair<int16_t, int16_t> signal_at(uint64_t frame) const {
        const int64_t ms = audio.inputs[opening].started_ms + static_cast<int64_t>(frame) * 1000 / input_rate;
        return audio.input_signal ? audio.input_signal(ms) : std::pair<int16_t, int16_t>{0, 0};
    }

    uint64_t recorded() override {
        if (!recording) return filled;
        if (!ring) return std::min<uint64_t>(frames_so_far(), block.frames);
        const uint64_t now = frames_so_far();
        for (; filled < now; ++filled) {
            auto [left, right] = signal_at(filled);
            block.samples[2 * (filled % block.frames)] = left;
            block.samples[2 * (filled % block.frames) + 1] = right;
        }
        audio.inputs[opening].frames_recorded = static_cast<uint32_t>(std::min<uint64_t>(filled, UINT32_MAX));
        return filled;
    }

    uint32_t stop() override {
        stopped = true;
        sim_input_opening& record = audio.inputs[opening];
        if (recording && ring) {
            recorded();
            recording = false;
        } else if (recording) {
            uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(frames_so_far(), block.frames));
            for (uint32_t i = 0; i < count; ++i) {
                auto [left, right] = signal_at(i);
                block.samples[2 * i] = left;
                block.samples[2 * i + 1] = right;
            }
            record.frames_recorded = count;
            recording = false;
        }
        return record.frames_recorded;
    }

    void reset() override { recording = false; }
    wave_error failure() override {
        const int64_t opened_ms = audio.inputs[opening].opened_ms;
        if (audio.lost(opened_ms)) return audio.outage.code;
        if (audio.input_lost(opened_ms)) return audio.input_outage.code;
        return stopped ? audio.fail_stop_input : 0;
    }
};

int64_t sim_clock::now_seconds() {
    int64_t seconds = owner_.now_ms() / 1000;
    for (const sim_clock_setting& setting : settings)
        if (setting.at_ms <= owner_.now_ms()) seconds += setting.seconds;
    return seconds;
}

std::tm sim_clock::local_time(int64_t seconds) {
    int offset = offset_seconds;
    bool summer_time = false;
    for (const sim_zone_change& change : zone_changes) {
        if (change.from_second > seconds) break;
        offset = change.offset_seconds;
        summer_time = change.summer_time;
    }
    std::tm local = civil_from_seconds(seconds + offset);
    local.tm_isdst = summer_time ? 1 : 0;
    return local;
}

int64_t sim_clock::monotonic_ms() {
    return owner_.now_ms();
}

void sim_clock::sleep_ms(int ms) {
    const auto now = std::chrono::steady_clock::now();
    if (owner_.awake_since_ != std::chrono::steady_clock::time_point{}) {
        const auto awake = std::chrono::duration_cast<std::chrono::microseconds>(now - owner_.awake_since_);
        owner_.longest_step_us = std::max<int64_t>(owner_.longest_step_us, awake.count());
    }
    for (sim_platform::hold_up_times* hold_up = &owner_.hold_up;;) {
        if (hold_up->at_ms >= 0 && owner_.now_ms() + ms >= hold_up->at_ms) {
            ms += hold_up->ms;
            hold_up->at_ms = -1;
        }
        auto next = std::find_if(owner_.hold_ups.begin(), owner_.hold_ups.end(),
                                 [](const sim_platform::hold_up_times& h) { return h.at_ms >= 0; });
        if (next == owner_.hold_ups.end() || owner_.now_ms() + ms < next->at_ms) break;
        hold_up = &*next;
    }
    owner_.total_sleep_ms += ms;
    owner_.advance(ms);
    owner_.awake_since_ = std::chrono::steady_clock::now();
}

void sim_clock::wait(std::span<const wait_handle> handles, int ms) {
    ++owner_.wakeups;
    const int64_t now = owner_.now_ms();
    int64_t until = now + std::max(ms, 0);
    auto sooner = [&](int64_t at) {
        if (at >= now) until = std::min(until, at);
    };
    sooner(owner_.next_event_ms(handles));
    sooner(owner_.keys.next_key_ms());
    // A real wait takes at least a moment; one that would return at once
    // again and again is the caller's fault, and still ends.
    sleep_ms(static_cast<int>(ms > 0 ? std::max<int64_t>(until - now, 1) : 0));
}

namespace {

bool during(const sim_wave_audio::outage_times& times, int64_t now) {
    return times.from_ms >= 0 && now >= times.from_ms && (times.until_ms < 0 || now < times.until_ms);
}

// A device opened before the outage is lost for good once it begins.
bool lost_in(const sim_wave_audio::outage_times& times, int64_t opened_ms, int64_t now) {
    return times.from_ms >= 0 && opened_ms < times.from_ms && now >= times.from_ms;
}

}  // namespace

bool sim_wave_audio::server_down() const {
    return during(outage, owner_.now_ms());
}

bool sim_wave_audio::input_down() const {
    return during(input_outage, owner_.now_ms());
}

bool sim_wave_audio::input_lost(int64_t opened_ms) const {
    return lost_in(input_outage, opened_ms, owner_.now_ms());
}

bool sim_wave_audio::is_frozen() const {
    return during(frozen, owner_.now_ms());
}

wave_error sim_wave_audio::hang_open(int answer_limit_ms) {
    const int64_t now = owner_.now_ms();
    const bool hanging = during(open_hangs, now);
    // While an earlier try is still out there is no second one.
    if (try_out_ && hanging) return not_answering;
    try_out_ = false;
    if (!hanging) return 0;
    const int64_t answers_in = open_hangs.until_ms < 0 ? INT64_MAX : open_hangs.until_ms - now;
    // A pending interrupt leaves a call a quarter of a second.
    const int64_t limit = pending_signal != 0 && answer_limit_ms > 250 ? 250 : answer_limit_ms;
    if (answers_in <= limit) {
        owner_.advance(answers_in);
        return 0;
    }
    owner_.advance(limit);
    try_out_ = true;
    return not_answering;
}

bool sim_wave_audio::lost(int64_t opened_ms) const {
    return lost_in(outage, opened_ms, owner_.now_ms());
}

namespace {

// The number of the device a name chooses; 0, the default, for none.
int chosen(const std::vector<std::string>& names, const char* device_name) {
    return device_name == nullptr ? 0 : choose_wave_device(names, device_name);
}

}  // namespace

std::vector<wave_device_entry> sim_wave_audio::list_devices() {
    ++listings;
    std::vector<wave_device_entry> devices;
    for (size_t id = 0; id < output_names.size(); ++id)
        devices.push_back({wave_direction::output, std::to_string(id), output_names[id], id == 0});
    for (size_t id = 0; id < input_names.size(); ++id)
        devices.push_back({wave_direction::input, std::to_string(id), input_names[id], id == 0});
    return devices;
}

wave_probe_result sim_wave_audio::probe(const char* output_device, const char* input_device) {
    ++probes;
    probed_output = output_device != nullptr ? output_device : "";
    probed_input = input_device != nullptr ? input_device : "";
    wave_probe_result result = probe_result;
    if (chosen(output_names, output_device) < 0) result.output_ok = false;
    if (chosen(input_names, input_device) < 0) result.input_ok = false;
    return result;
}

wave_error sim_wave_audio::open_output(const char* device_name, std::unique_ptr<wave_output>& device,
                                       int answer_limit_ms, int) {
    asked_output_ = device_name != nullptr ? device_name : "";
    const int id = chosen(output_names, device_name);
    if (id < 0) return no_such_output;
    if (fail_open_output != 0) return fail_open_output;
    if (server_down()) return outage.code;
    if (wave_error code = hang_open(answer_limit_ms)) return code;
    outputs.push_back(sim_output_opening{});
    outputs.back().device = id;
    outputs.back().opened_ms = owner_.now_ms();
    auto opened = std::make_unique<sim_output_device>(*this, outputs.size() - 1, owner_.now_ms());
    playing_.push_back(opened.get());
    ++open_output_devices;
    device = std::move(opened);
    return 0;
}

wave_error sim_wave_audio::open_input(const char* device_name, std::unique_ptr<wave_input>& device,
                                      int answer_limit_ms) {
    asked_input_ = device_name != nullptr ? device_name : "";
    const int id = chosen(input_names, device_name);
    if (id < 0) return no_such_input;
    if (fail_open_input != 0) return fail_open_input;
    if (server_down()) return outage.code;
    if (input_down()) return input_outage.code;
    if (wave_error code = hang_open(answer_limit_ms)) return code;
    inputs.push_back(sim_input_opening{});
    inputs.back().device = id;
    inputs.back().opened_ms = owner_.now_ms();
    ++open_input_devices;
    device = std::make_unique<sim_input_device>(*this, inputs.size() - 1);
    return 0;
}

bool sim_wave_audio::outputs_keep_clock() const { return keeps_clock; }

std::string sim_wave_audio::error_text(wave_error code) {
    if (code == no_such_output || code == no_such_input) {
        return std::string("no ") + (code == no_such_output ? "output" : "input") + " device matches \"" +
               (code == no_such_output ? asked_output_ : asked_input_) +
               "\"; check the name against the list that --list-devices prints";
    }
    if (code == not_answering) return "the simulated device did not answer";
    if (code == not_playing) return "the simulated device did not play";
    return "simulated device error " + std::to_string(code);
}

int sim_key_source::poll_key() {
    int64_t now = owner_.now_ms();
    if (console_missing) return key_console_missing;
    if (read_fails_at_ms >= 0 && now >= read_fails_at_ms) return key_read_failed;
    if (next_ >= script.size() || script[next_].at_ms > now) return key_none;
    int code = script[next_].code;
    // Whatever else is waiting by now goes with this batch.
    while (next_ < script.size() && script[next_].at_ms <= now) ++next_;
    return code;
}

int sim_terminal_line::width() {
    int now_columns = columns;
    for (const sim_resize& resize : resizes)
        if (resize.at_ms <= owner_.now_ms()) now_columns = resize.columns;
    return now_columns;
}

void sim_terminal_line::show(const std::string& text) {
    events.push_back({owner_.now_ms(), true, text});
    if (transcript != nullptr) fprintf(transcript, "<show %s>", text.c_str());
    showing_ = true;
}

void sim_terminal_line::erase() {
    events.push_back({owner_.now_ms(), false, ""});
    if (transcript != nullptr) fputs("<erase>", transcript);
    showing_ = false;
}

void sim_terminal_line::stop_due(int64_t now_ms) {
    while (next_stop_ < stops.size() && stops[next_stop_] <= now_ms) {
        ++next_stop_;
        if (!showing_) continue;
        events.push_back({now_ms, false, "stopped"});
        if (transcript != nullptr) fputs("<stopped>", transcript);
        showing_ = false;
    }
}

// Keeps its frames in the writer's record of it.
struct sim_sound_file final : sound_file {
    sim_sound_file_writer& writer;
    size_t index;
    std::string error_text;

    sim_sound_file(sim_sound_file_writer& w, size_t i) : writer(w), index(i) {}
    ~sim_sound_file() override {
        if (!writer.files[index].finished) writer.files[index].dropped = true;
    }

    bool write(const int16_t* samples, uint32_t frames) override {
        sim_sound_file_record& record = writer.files[index];
        if (record.frames + frames > writer.fail_after_frames) {
            error_text = writer.fail_text;
            return false;
        }
        if (writer.record_samples) record.samples.insert(record.samples.end(), samples, samples + 2 * frames);
        record.frames += frames;
        if (record.frames >= writer.interrupt_after_frames) pending_signal = SIGINT;
        return true;
    }

    bool finish() override {
        if (writer.fail_finish) {
            error_text = writer.fail_text;
            return false;
        }
        writer.files[index].finished = true;
        return true;
    }

    std::string error() const override { return error_text; }
};

std::unique_ptr<sound_file> sim_sound_file_writer::create(const std::string& path, const std::string& type,
                                                          uint64_t frames, std::string& error) {
    if (!create_error.empty()) {
        error = create_error;
        return nullptr;
    }
    sim_sound_file_record record;
    record.path = path;
    record.type = type;
    record.expected_frames = frames;
    files.push_back(record);
    return std::make_unique<sim_sound_file>(*this, files.size() - 1);
}

sim_platform::sim_platform() = default;

int64_t sim_platform::next_event_ms(std::span<const wait_handle> handles) const {
    int64_t next = -1;
    auto sooner = [&](int64_t at) {
        if (at > now_ms_ && (next < 0 || at < next)) next = at;
    };
    for (const auto& s : signals_)
        if (s.code != 0) sooner(s.at_ms);
    if (next_action_ < actions_.size()) sooner(actions_[next_action_].at_ms);
    // A device's blocks wake only a wait on it.
    for (sim_output_device* device : audio.playing_) {
        const wait_handle ready = device->ready_handle();
        if (std::any_of(handles.begin(), handles.end(), [&](const wait_handle& h) { return h.handle == ready.handle; }))
            sooner(device->next_done_ms());
    }
    return next;
}

void sim_platform::advance(int64_t ms) {
    now_ms_ += ms;
    for (auto* device : audio.playing_) device->play_until(now_ms_);
    status_line.stop_due(now_ms_);
    progress_line.stop_due(now_ms_);
    for (auto& s : signals_) {
        if (s.code != 0 && s.at_ms <= now_ms_) {
            pending_signal = s.code;
            s.code = 0;
        }
    }
    while (next_action_ < actions_.size() && actions_[next_action_].at_ms <= now_ms_)
        actions_[next_action_++].action();
}
