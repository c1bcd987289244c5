#pragma once

// A whole run of the program on the simulated platform, described by one
// fuzzing input, and what must hold after it. Shared by the fuzz target
// fuzz/whole_run_fuzz.cc and the replay of its saved inputs among the tests.
//
// The input is three parts:
//   line 1     the arguments, separated by single spaces (so "" arguments
//              can occur); an argument holding '/' or '\' is not run, so
//              that every file a run touches lies in its own folder, and
//              neither is --send or --control without a place, which would
//              reach a run of this user's outside it
//   line 2     the key script: each byte a key pressed 300 ms after the one
//              before, except these, which set up the platform instead:
//              \x01 the output device does not open, \x02 the n-th write to
//              it fails, \x03 the input device does not open, \x04 no sound
//              file can be created, \x05 sound files fill up after 3 s,
//              \x06 the keyboard fails to read from this key's time on, \x07
//              the output device stops answering at its reset, \x08 there is
//              no console, \x09 the dialog picks two files, '!' and '#' make
//              standard output and standard error terminals 80 and 12 columns
//              wide, '%' gives the run 25 s instead of 5
//   the rest   the file "tones.txt" in the run's folder, for -f and -g
// Every run is bounded: Ctrl-C arrives after 5 s (or 25 s) of virtual time,
// and after as much exported sound. Most faults show within a second or two
// of sound; the longer runs reach what takes a tone 24 s to show.

#include <cstdint>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/run.h"
#include "process/settings.h"
#include "platform/sim/sim_platform.h"
#include "process/state.h"

namespace tq_test {

struct whole_run_input {
    std::vector<std::string> args;
    std::string keys;
    std::string frequency_file;
    bool runnable = true;
};

inline constexpr int64_t whole_run_budget_ms = 5000;
inline constexpr int64_t whole_run_long_budget_ms = 25000;
inline constexpr const char* whole_run_file = "tones.txt";

inline whole_run_input parse_whole_run_input(const uint8_t* data, size_t size) {
    whole_run_input input;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t first_end = text.find('\n');
    const std::string line = text.substr(0, first_end);
    size_t from = 0;
    while (input.args.size() < 64) {
        const size_t space = line.find(' ', from);
        input.args.push_back(line.substr(from, space == std::string::npos ? std::string::npos : space - from));
        if (space == std::string::npos) break;
        from = space + 1;
    }
    for (const std::string& arg : input.args)
        if (arg.find_first_of("/\\") != std::string::npos || arg.rfind("--send", 0) == 0 || arg == "--control")
            input.runnable = false;
    if (first_end == std::string::npos) return input;
    const size_t second_end = text.find('\n', first_end + 1);
    input.keys = text.substr(first_end + 1, second_end == std::string::npos ? std::string::npos
                                                                            : second_end - first_end - 1);
    if (second_end != std::string::npos) input.frequency_file = text.substr(second_end + 1);
    return input;
}

// Sets the simulated platform up as the key line asks.
inline void set_up_whole_run(sim_platform& sim, const whole_run_input& input) {
    const int64_t t0 = sim_platform::start_ms;
    const int64_t budget_ms =
        input.keys.find('%') != std::string::npos ? whole_run_long_budget_ms : whole_run_budget_ms;
    sim.audio.record_samples = false;
    sim.sound_writer.record_samples = false;
    sim.sound_writer.interrupt_after_frames = static_cast<uint64_t>(budget_ms / 1000 * 44100);
    sim.raise_signal_at(t0 + budget_ms, SIGINT);
    sim.chooser.answer.status = chooser_result::outcome::chosen;
    sim.chooser.answer.strings = {whole_run_file};
    int64_t at = t0 + 150;
    for (unsigned char c : input.keys) {
        switch (c) {
        case 1: sim.audio.fail_open_output = 2; break;
        case 2:
            sim.audio.fail_write_number = 3;
            sim.audio.fail_write_code = 5;
            break;
        case 3: sim.audio.fail_open_input = 4; break;
        case 4: sim.sound_writer.create_error = "Permission denied"; break;
        case 5: sim.sound_writer.fail_after_frames = 3 * 44100; break;
        case 6: sim.keys.read_fails_at_ms = at; break;
        case 7: sim.audio.fail_reset_output = 6; break;
        case 8: sim.keys.console_missing = true; break;
        case 9: sim.chooser.answer.strings = {".", whole_run_file, "", whole_run_file}; break;
        case '%':
            break;
        case '!':
        case '#':
            for (sim_terminal_line* line : {&sim.status_line, &sim.progress_line}) {
                line->is_terminal = true;
                line->columns = c == '!' ? 80 : 12;
            }
            break;
        default:
            sim.keys.script.push_back({at, static_cast<int>(static_cast<signed char>(c))});
            at += 300;
            break;
        }
    }
}

// What must hold after any run; empty when it all does.
inline std::string whole_run_fault(const whole_run_input& input, int status, sim_platform& sim) {
    if (status < 0 || status > 2) return "exit status " + std::to_string(status);
    if (sim.audio.open_output_devices != 0 || sim.audio.open_input_devices != 0) return "a device left open";
    if (current_platform != nullptr) return "the run's platform left behind";
    for (const sim_sound_file_record& file : sim.sound_writer.files)
        if (file.finished == file.dropped) return "a sound file neither finished nor dropped";
    // A run that asked for a sound file and ends with 0 wrote it, unless it
    // only printed its help or version.
    bool asked_for_file = settings.output_path != nullptr;
    for (const std::string& arg : input.args)
        if (arg == "--help" || arg == "--version") asked_for_file = false;
    if (status == 0 && asked_for_file) {
        if (sim.sound_writer.files.size() != 1 || !sim.sound_writer.files[0].finished)
            return "status 0, but the sound file was not written";
    }
    return "";
}

// Runs the input in the current folder, which it leaves empty again.
inline int run_whole_input(const whole_run_input& input, sim_platform& sim, FILE* out, FILE* err) {
    std::ofstream(whole_run_file, std::ios::binary) << input.frequency_file;
    set_up_whole_run(sim, input);
    std::vector<std::string> storage{"tonquel"};
    storage.insert(storage.end(), input.args.begin(), input.args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int status = run_tonquel(static_cast<int>(storage.size()), argv.data(), sim.services(), out, err);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(".", ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    return status;
}

}  // namespace tq_test
