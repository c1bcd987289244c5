// Runs a command and prints its resource use with microsecond resolution,
// which /usr/bin/time's hundredths of a second cannot give for runs that
// cost a few hundredths of a CPU second:
//   child_usage COMMAND [ARG...]
// prints "user_s system_s wall_s peak_rss_kB voluntary_switches" on stderr
// and exits with the command's status.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: child_usage COMMAND [ARG...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("child_usage: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) {
        std::perror("child_usage: wait4");
        return 2;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    std::fprintf(stderr, "%.6f %.6f %.3f %ld %ld\n", seconds(usage.ru_utime), seconds(usage.ru_stime), wall,
                 usage.ru_maxrss, usage.ru_nvcsw);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
