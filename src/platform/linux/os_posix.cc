#include "platform/os.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>

namespace {

constexpr int interrupt_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(interrupt_signals)];
struct sigaction saved_pipe_action;
bool installed = false;

}  // namespace

FILE* create_new_file(const char* path, int& error) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
        error = errno;
        close(fd);
    }
    return file;
}

std::tm local_time(int64_t seconds) {
    tzset();
    time_t now = static_cast<time_t>(seconds);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

uint64_t physical_memory_bytes() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

void install_interrupt_handlers(void (*handler)(int)) {
    if (installed) return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep or a read that the signal interrupts returns at
    // once, so the run acts on the signal without delay.
    action.sa_flags = 0;
    for (size_t i = 0; i < std::size(interrupt_signals); ++i)
        sigaction(interrupt_signals[i], &action, &saved_actions[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &saved_pipe_action);
    installed = true;
}

void remove_interrupt_handlers() {
    if (!installed) return;
    for (size_t i = 0; i < std::size(interrupt_signals); ++i)
        sigaction(interrupt_signals[i], &saved_actions[i], nullptr);
    sigaction(SIGPIPE, &saved_pipe_action, nullptr);
    installed = false;
}
