#pragma once

// Whole runs of the program in-process on the simulated platform, with what
// they wrote to standard output and standard error.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run.h"
#include "engine/sound/render.h"
#include "platform/sim/sim_platform.h"
#include "process/state.h"
#include "support/captured_stream.h"

namespace tq_test {

struct run_output {
    int status;
    std::string out;
    std::string err;
};

// "tonquel" and the arguments, as main receives them.
struct command_line {
    explicit command_line(const std::vector<std::string>& args) : storage{"tonquel"} {
        storage.insert(storage.end(), args.begin(), args.end());
        for (auto& arg : storage) argv.push_back(arg.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(storage.size()); }
    std::vector<std::string> storage;
    std::vector<char*> argv;
};

// A run on any set of back ends, the simulated ones or some of this system's.
inline run_output run_on(platform& services, const std::vector<std::string>& args) {
    command_line line(args);

    captured_stream out;
    captured_stream err;
    int status = run_tonquel(line.argc(), line.argv.data(), services, out.file(), err.file());
    return run_output{status, out.text(), err.text()};
}

inline run_output run(sim_platform& sim, const std::vector<std::string>& args) {
    return run_on(sim.services(), args);
}

// A run whose standard output and standard error go to one stream, as on a
// terminal. The simulated terminal lines mark what they draw into it.
struct terminal_output {
    int status;
    std::string screen;
};

inline terminal_output run_on_terminal(sim_platform& sim, const std::vector<std::string>& args) {
    command_line line(args);

    captured_stream terminal;
    sim.status_line.transcript = terminal.file();
    sim.progress_line.transcript = terminal.file();
    int status = run_tonquel(line.argc(), line.argv.data(), sim.services(), terminal.file(), terminal.file());
    sim.status_line.transcript = nullptr;
    sim.progress_line.transcript = nullptr;
    return terminal_output{status, terminal.text()};
}

inline run_output run(const std::vector<std::string>& args) {
    sim_platform sim;
    return run(sim, args);
}

// The frames render_buffer gives for a tone under the settings the last run
// left behind, from phase 0: as many whole buffers as cover count frames.
inline std::vector<int16_t> rendered(double frequency, int pulse, uint64_t count) {
    render_state state = render_start(frequency, pulse);
    std::vector<int16_t> samples;
    std::vector<int16_t> buffer(2 * sample_rate);
    while (samples.size() < 2 * count) {
        render_buffer(state, buffer.data());
        samples.insert(samples.end(), buffer.begin(), buffer.end());
    }
    samples.resize(2 * count);
    return samples;
}

// A fresh working directory for the life of the object.
class temp_dir {
public:
    temp_dir() {
        path_ = unique_temp_path("tonquel-test").string();
        std::filesystem::create_directory(path_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~temp_dir() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(path_);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::filesystem::path previous_;
};

// As text: on Windows the line ends that text mode wrote come back as "\n".
inline std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// The files in the current directory whose names start with prefix.
inline std::vector<std::string> files_starting_with(const std::string& prefix) {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace tq_test
