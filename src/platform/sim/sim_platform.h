#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

// A simulated platform: a virtual clock that only the sleeps advance, a sound
// device that plays queued blocks in virtual real time and records what it
// plays, an input device fed by a signal function, scripted keys and a
// scripted file chooser. A whole run on it takes milliseconds. The control
// channel is this system's own, so that tests talk to the run on a real
// socket at scripted moments of virtual time.

class sim_platform;

// One opening of the simulated output device, from open to close.
struct sim_output_opening {
    int device = 0;  // its number in sim_wave_audio::output_names
    int64_t opened_ms = 0;
    int64_t closed_ms = -1;
    uint64_t frames_played = 0;
    uint64_t underrun_frames = 0;   // time the device had nothing to play
    uint64_t most_queued_frames = 0;  // the deepest the queue was after a write
    std::vector<int16_t> samples;   // what was played, when recording
};

// One opening of the simulated input device.
struct sim_input_opening {
    int device = 0;  // its number in sim_wave_audio::input_names
    int64_t opened_ms = 0;
    int64_t started_ms = -1;
    int64_t closed_ms = -1;
    uint32_t frames_recorded = 0;
};

struct sim_key {
    int64_t at_ms;
    int code;
};

// From its calendar second on, the simulated zone is offset_seconds ahead of
// UTC: summer time beginning or ending, or the machine moved to another zone.
struct sim_zone_change {
    int64_t from_second;
    int offset_seconds;
    bool summer_time;
};

// Once virtual time reaches at_ms, the calendar clock is set seconds forward
// (back, below 0), as a user or a time server sets it. The sound devices
// play on in virtual time, unaffected.
struct sim_clock_setting {
    int64_t at_ms;
    int64_t seconds;
};

class sim_clock final : public clock_source {
public:
    explicit sim_clock(sim_platform& owner) : owner_(owner) {}
    int64_t now_seconds() override;
    int64_t monotonic_ms() override;
    void sleep_ms(int ms) override;
    // Sleeps until the first thing that would wake a real wait: a block of
    // an open output played out, a scripted key, signal or action, or the
    // deadline; the handles only say that the caller waits on them.
    void wait(std::span<const wait_handle> handles, int ms) override;
    // In the simulated zone, never the host's, so that runs come out the
    // same on every system.
    std::tm local_time(int64_t seconds) override;

    int offset_seconds = 0;  // before the first change: UTC
    std::vector<sim_zone_change> zone_changes;  // in time order
    std::vector<sim_clock_setting> settings;    // in time order

private:
    sim_platform& owner_;
};

class sim_wave_audio final : public wave_audio {
public:
    explicit sim_wave_audio(sim_platform& owner) : owner_(owner) {}
    std::vector<wave_device_entry> list_devices() override;
    wave_probe_result probe(const char* output_device, const char* input_device) override;
    wave_error open_output(const char* device_name, std::unique_ptr<wave_output>& device, int answer_limit_ms,
                           int queue_ms) override;
    wave_error open_input(const char* device_name, std::unique_ptr<wave_input>& device,
                          int answer_limit_ms) override;
    std::string error_text(wave_error code) override;
    bool outputs_keep_clock() const override;

    // The devices, numbered and named as WinMM numbers and names them, and
    // chosen as there (choose_wave_device); the first is the default.
    std::vector<std::string> output_names{"Speakers", "Second Output"};
    std::vector<std::string> input_names{"Microphone", "Line In"};
    // An open of a name that matches no device fails with these.
    static constexpr wave_error no_such_output = 901;
    static constexpr wave_error no_such_input = 902;
    // An open that did not answer within its limit, or that was refused
    // while an earlier one is still out; a device that holds blocks without
    // playing them.
    static constexpr wave_error not_answering = 903;
    static constexpr wave_error not_playing = 904;
    wave_probe_result probe_result{true, true};
    wave_error fail_open_output = 0;
    wave_error fail_open_input = 0;
    wave_error fail_start_input = 0;
    // The device stops answering as a tone ends: its failure() reports it.
    wave_error fail_reset_output = 0;
    wave_error fail_stop_input = 0;
    // The sound server goes away at from_ms and is back at until_ms (-1:
    // never): opens fail meanwhile, and a device opened before from_ms is
    // lost for good, as a restarted server's old streams are.
    struct outage_times {
        int64_t from_ms = -1;
        int64_t until_ms = -1;
        wave_error code = 5;
    } outage;
    // The same for the input device alone (a microphone unplugged and
    // plugged in again).
    outage_times input_outage;
    // From from_ms to until_ms (-1: never) an open does not answer: it takes
    // until until_ms, and one that gives up first stays out till then, so
    // that later ones fail at once.
    outage_times open_hangs;
    // From from_ms to until_ms (-1: never) open devices take blocks and play
    // none, as a device on a stopped server does; they tell so as a real
    // one does, within the start or the stall limit.
    outage_times frozen;
    // An open output counts an underrun of its own (one it ran dry in and
    // recovered from, as ALSA's plugins tell) at each of these times.
    std::vector<int64_t> underruns_at_ms;
    int fail_write_number = 0;   // the n-th write of the run fails (1-based); 0: never
    wave_error fail_write_code = 0;
    bool record_samples = true;  // off for long runs: count frames only
    // Outputs tell how far they have played while the sound moves, as ALSA's
    // do; off, as WinMM's: the caller learns only from blocks handed back.
    bool keeps_clock = true;
    // The input signal: left and right sample of the frame recorded at the
    // given millisecond of virtual time.
    std::function<std::pair<int16_t, int16_t>(int64_t ms)> input_signal;
    // How late recorded frames reach the caller, as a server's fragments do.
    int64_t input_delay_ms = 0;

    std::vector<sim_output_opening> outputs;
    std::vector<sim_input_opening> inputs;
    int writes = 0;
    int probes = 0;
    int listings = 0;
    // The names the last probe was asked about; "" for the default.
    std::string probed_output;
    std::string probed_input;
    int open_output_devices = 0;
    int open_input_devices = 0;

    bool server_down() const;
    bool lost(int64_t opened_ms) const;
    bool input_down() const;
    bool input_lost(int64_t opened_ms) const;
    bool is_frozen() const;

private:
    friend class sim_platform;
    friend struct sim_output_device;
    friend struct sim_input_device;
    sim_platform& owner_;
    std::vector<struct sim_output_device*> playing_;
    std::string asked_output_;  // the names of the last openings
    std::string asked_input_;
    bool try_out_ = false;  // an open gave up and is still out
    // Fails an open that hangs, taking the time it waits; 0 when it answers.
    wave_error hang_open(int answer_limit_ms);
};

class sim_key_source final : public key_source {
public:
    explicit sim_key_source(sim_platform& owner) : owner_(owner) {}
    int poll_key() override;
    void restore() override { ++restores; }
    wait_handle ready_handle() override { return terminal ? wait_handle{1} : wait_handle{}; }
    bool has_terminal() override { return terminal; }

    std::vector<sim_key> script;  // in time order
    int64_t read_fails_at_ms = -1;
    bool console_missing = false;  // no input handle to be had
    bool terminal = true;          // standard input is a terminal
    // When the next scripted key comes, if any.
    int64_t next_key_ms() const { return next_ < script.size() ? script[next_].at_ms : -1; }
    int restores = 0;

private:
    sim_platform& owner_;
    size_t next_ = 0;
};

class sim_file_chooser final : public file_chooser {
public:
    chooser_result choose(const std::string& title, const std::string& initial_dir) override {
        asked_title = title;
        asked_dir = initial_dir;
        ++calls;
        return answer;
    }
    chooser_result answer;
    std::string asked_title;
    std::string asked_dir;
    int calls = 0;
};

// One change of a simulated terminal line: drawn with text, or taken away.
struct sim_line_event {
    int64_t at_ms;
    bool shown;
    std::string text;
};

struct sim_resize {
    int64_t at_ms;
    int columns;
};

// A terminal line that records what was drawn. Not a terminal unless a test
// makes it one.
class sim_terminal_line final : public terminal_line {
public:
    explicit sim_terminal_line(sim_platform& owner) : owner_(owner) {}
    bool usable() override { return is_terminal; }
    int width() override;
    bool showing() override { return showing_; }
    void show(const std::string& text) override;
    void erase() override;

    bool is_terminal = false;
    int columns = 80;
    std::vector<sim_resize> resizes;  // in time order
    // Virtual times at which the job is stopped (Ctrl-Z) and resumed at
    // once: the line is taken away as a stop takes it.
    std::vector<int64_t> stops;
    // When set, each drawing is written into it as "<show TEXT>" or
    // "<erase>", among what the run prints there.
    FILE* transcript = nullptr;
    std::vector<sim_line_event> events;

private:
    friend class sim_platform;
    void stop_due(int64_t now_ms);
    sim_platform& owner_;
    bool showing_ = false;
    size_t next_stop_ = 0;
};

// One file the simulated sound file writer was asked for.
struct sim_sound_file_record {
    std::string path;
    std::string type;
    uint64_t expected_frames = 0;
    uint64_t frames = 0;
    std::vector<int16_t> samples;  // when recording
    bool finished = false;
    bool dropped = false;  // destroyed unfinished
};

class sim_sound_file_writer final : public sound_file_writer {
public:
    std::vector<std::string> types() override { return writable_types; }
    std::unique_ptr<sound_file> create(const std::string& path, const std::string& type, uint64_t frames,
                                       std::string& error) override;

    std::vector<std::string> writable_types{"wav", "flac"};
    std::string create_error;  // when set, create fails with it
    // A write that would take the file past this many frames fails.
    uint64_t fail_after_frames = UINT64_MAX;
    std::string fail_text = "No space left on device";
    bool fail_finish = false;
    // Ctrl-C arrives once this many frames are written.
    uint64_t interrupt_after_frames = UINT64_MAX;
    bool record_samples = true;
    std::vector<sim_sound_file_record> files;
};

// Keys by name, in memory: the first one made is 32 zeros but a 1, the next
// ends in 2, and so on, so that runs come out the same; the name in fail
// gets its error.
class sim_key_store final : public key_store {
public:
    using key_store::key;
    std::string key(const std::string& name, std::string& error, key_folder) override {
        if (name == fail) {
            error = name + ": no key here";
            return "";
        }
        auto kept = std::find_if(keys.begin(), keys.end(), [&](const auto& pair) { return pair.first == name; });
        if (kept != keys.end()) return kept->second;
        std::string made = std::to_string(keys.size() + 1);
        made.insert(0, 32 - made.size(), '0');
        keys.emplace_back(name, made);
        return made;
    }

    std::vector<std::pair<std::string, std::string>> keys;
    std::string fail;
};

// Counts what the run asks of the sleep inhibitor.
class sim_sleep_inhibitor final : public sleep_inhibitor {
public:
    void hold() override {
        if (!held) ++holds;
        held = true;
    }
    void release() override { held = false; }
    bool held = false;
    int holds = 0;
};

class sim_platform {
public:
    sim_platform();
    platform& services() { return services_; }

    int64_t now_ms() const { return now_ms_; }
    // Moves virtual time on, playing the open devices and raising the
    // scripted signals.
    void advance(int64_t ms);
    // The signal arrives once virtual time reaches at_ms.
    void raise_signal_at(int64_t at_ms, int signal_number) { signals_.push_back({at_ms, signal_number}); }
    // The action runs once virtual time reaches at_ms, in the sleep that
    // gets there; actions are given in time order.
    void at(int64_t at_ms, std::function<void()> action) { actions_.push_back({at_ms, std::move(action)}); }
    // The first moment after now at which a signal, an action or an output
    // block falls due; -1 when nothing does.
    int64_t next_event_ms(std::span<const wait_handle> handles) const;

    // The process is held up once, as a busy machine holds it: the sleep
    // that reaches at_ms takes ms more.
    struct hold_up_times {
        int64_t at_ms = -1;
        int ms = 0;
    } hold_up;
    // More of them, in time order.
    std::vector<hold_up_times> hold_ups;

    sim_clock clock{*this};
    sim_wave_audio audio{*this};
    sim_key_source keys{*this};
    sim_file_chooser chooser;
    sim_terminal_line status_line{*this};
    sim_terminal_line progress_line{*this};
    sim_sound_file_writer sound_writer;
    sim_sleep_inhibitor sleep;
    std::unique_ptr<control_channel> control = make_system_control_channel();
    sim_key_store key_files;
    int64_t total_sleep_ms = 0;
    // How often the run's one wait returned (clock_source::wait).
    int64_t wakeups = 0;
    // The longest real time, in microseconds, that the run spent between two
    // sleeps of the virtual clock (the scripted actions, which run inside a
    // sleep, left out): what its longest step costs the machine, which the
    // sound device would have to ride out.
    int64_t longest_step_us = 0;

    // Where virtual time starts: a whole second, so tone timing is exact.
    static constexpr int64_t start_ms = INT64_C(1700000000000);

private:
    friend class sim_clock;
    int64_t now_ms_ = start_ms;
    std::chrono::steady_clock::time_point awake_since_{};
    std::vector<sim_key> signals_;
    struct timed_action {
        int64_t at_ms;
        std::function<void()> action;
    };
    std::vector<timed_action> actions_;
    size_t next_action_ = 0;
    platform services_{clock, audio, keys, chooser, status_line, progress_line, sound_writer, sleep, *control,
                       key_files};
};
