#pragma once

// The real binary run as a subprocess (POSIX only): standard input from
// /dev/null, the two output streams into files of its directory.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tq_test {

struct process_result {
    int status;
    std::string out;
    std::string err;
};

// The program under test: the Linux binary, or another build of it (the
// Windows program through its Wine wrapper) named in TONQUEL_CLI_PROGRAM.
inline const char* const program = [] {
    const char* other = getenv("TONQUEL_CLI_PROGRAM");
    return other != nullptr && other[0] != '\0' ? other : TONQUEL_BIN;
}();
// The Windows program writes its text files and streams with CR LF.
inline const bool crlf_line_ends = getenv("TONQUEL_CLI_CRLF") != nullptr;

// A text file as the Linux program would have written it.
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    if (crlf_line_ends) {
        std::string lf;
        for (size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
        text = lf;
    }
    return text;
}

// Where the binary's standard output goes, and the file size limit it runs
// under.
struct run_options {
    std::string stdout_path;  // empty: a file in the run's directory
    bool stdout_to_closed_pipe = false;
    rlim_t file_size_limit = 0;  // above 0: no file it writes grows beyond it
};

// Starts the binary in dir. Returns its pid, or -1.
inline pid_t start_binary(const std::vector<std::string>& args, const std::string& dir,
                          const run_options& options = {}) {
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out_path = options.stdout_path.empty() ? dir + "/.stdout" : options.stdout_path;
    const std::string err_path = dir + "/.stderr";
    int pipe_ends[2] = {-1, -1};
    if (options.stdout_to_closed_pipe && pipe(pipe_ends) != 0) return -1;
    pid_t pid = fork();
    if (pid != 0) {
        if (options.stdout_to_closed_pipe) {
            close(pipe_ends[0]);
            close(pipe_ends[1]);
        }
        return pid;
    }
    // The child: only calls that are safe after fork.
    int in = open("/dev/null", O_RDONLY);
    int out = options.stdout_to_closed_pipe ? pipe_ends[1] : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (options.stdout_to_closed_pipe) close(pipe_ends[0]);
    if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (options.file_size_limit > 0) {
        rlimit limit{options.file_size_limit, options.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execv(program, argv.data());
    _exit(127);
}

// Waits for the binary started in dir and collects what it wrote.
// Standard output is collected only where it went to the run's directory.
inline process_result finish_binary(pid_t pid, const std::string& dir, const run_options& options = {}) {
    if (pid < 0) return {-1, "", "start failed"};
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    bool stdout_is_ours = options.stdout_path.empty() && !options.stdout_to_closed_pipe;
    return {status, stdout_is_ours ? slurp(dir + "/.stdout") : "", slurp(dir + "/.stderr")};
}

inline process_result run_binary(const std::vector<std::string>& args, const std::string& dir,
                                 const run_options& options = {}) {
    return finish_binary(start_binary(args, dir, options), dir, options);
}

// Each test in a fresh directory of its own.
class binary_test : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tonquel-cli.XXXXXX";
        dir_ = mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    process_result run(const std::vector<std::string>& args, const run_options& options = {}) {
        return run_binary(args, dir_, options);
    }
    // Paths of the files in the directory whose names start with prefix.
    std::vector<std::string> files_starting_with(const std::string& prefix) const {
        std::vector<std::string> paths;
        for (auto& e : std::filesystem::directory_iterator(dir_))
            if (e.path().filename().string().rfind(prefix, 0) == 0) paths.push_back(e.path().string());
        return paths;
    }
    std::string dir_;
};

}  // namespace tq_test
