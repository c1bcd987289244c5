#include "platform/os.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include "platform/linux/interruptible_wait.h"

namespace {

constexpr int interrupt_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(interrupt_signals)];
// Signals that would kill the run where a failed write is enough: a reader of
// standard output that went away, a file at the size limit.
constexpr int write_signals[] = {SIGPIPE, SIGXFSZ};
struct sigaction saved_write_actions[std::size(write_signals)];
bool installed = false;
void (*interrupt_handler)(int) = nullptr;
// Written by the handler, so that a wait on it wakes at once: a signal that
// lands just before the wait begins is not lost until its deadline.
int interrupt_event_fd = -1;

extern "C" void forward_interrupt(int signal_number) {
    const int saved_errno = errno;
    if (interrupt_handler != nullptr) interrupt_handler(signal_number);
    if (interrupt_event_fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(interrupt_event_fd, &one, sizeof one);
    }
    errno = saved_errno;
}

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

namespace {

bool is_fifo(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
}

bool set_blocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// A FIFO read through stdio, every read waiting in slices: a writer that
// never comes, or never writes on, cannot hold Ctrl-C up.
struct fifo_reader {
    int fd;
    const volatile std::sig_atomic_t* stop;
};

ssize_t read_fifo(void* cookie, char* buffer, size_t size) {
    auto* reader = static_cast<fifo_reader*>(cookie);
    for (;;) {
        if (!wait_for_fd(reader->fd, POLLIN, *reader->stop)) {
            errno = EINTR;
            return -1;
        }
        const ssize_t got = read(reader->fd, buffer, size);
        if (got >= 0 || (errno != EAGAIN && errno != EINTR)) return got;
    }
}

int close_fifo(void* cookie) {
    auto* reader = static_cast<fifo_reader*>(cookie);
    const int result = close(reader->fd);
    delete reader;
    return result;
}

FILE* fifo_stream(int fd, const volatile std::sig_atomic_t& stop, int& error) {
    auto* reader = new fifo_reader{fd, &stop};
    FILE* file = fopencookie(reader, "r", cookie_io_functions_t{read_fifo, nullptr, nullptr, close_fifo});
    if (file == nullptr) {
        error = errno;
        close(fd);
        delete reader;
    }
    return file;
}

}  // namespace

FILE* open_file_interruptibly(const char* path, const char* mode, const volatile std::sig_atomic_t& stop,
                              int& error) {
    const bool reading = std::strcmp(mode, "r") == 0;
    // Neither open waits: a FIFO with no writer opens at once for reading,
    // and with no reader fails with ENXIO for writing, which is tried again.
    const int flags = reading ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    int fd = -1;
    for (;;) {
        fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != ENXIO || reading) break;
        if (stop != 0) {
            errno = EINTR;
            break;
        }
        sleep_one_slice();
    }
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    if (reading && is_fifo(fd)) return fifo_stream(fd, stop, error);
    FILE* file = set_blocking(fd) ? fdopen(fd, mode) : nullptr;
    if (file == nullptr) {
        error = errno;
        close(fd);
    }
    return file;
}

int sync_file(FILE* file) {
    if (fflush(file) != 0) return errno;
    // Pipes and devices have nothing to synchronise.
    if (fsync(fileno(file)) != 0 && errno != EINVAL && errno != EROFS) return errno;
    return 0;
}

int64_t file_position(FILE* file) {
    return ftello(file);
}

bool seek_file(FILE* file, int64_t position) {
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

void truncate_file(FILE* file, int64_t length) {
    // A device or a pipe cannot be cut; nothing else is to be done then.
    (void)!ftruncate(fileno(file), static_cast<off_t>(length));
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

// Linux gives each thread its own nice value.
void lower_thread_priority() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
}

void install_interrupt_handlers(void (*handler)(int)) {
    if (installed) return;
    if (interrupt_event_fd < 0) interrupt_event_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    interrupt_handler = handler;
    struct sigaction action {};
    action.sa_handler = forward_interrupt;
    sigemptyset(&action.sa_mask);
    // A write to a pipe or a FIFO that the signal interrupts goes on instead
    // of failing. Sleeps and poll() are never restarted, so the play loop's
    // sleep and the key source's poll still return at once, and the run acts
    // on the signal without delay; the waits that must end on it (the
    // dialog's pipe, the terminal chooser's line) poll before they read.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(interrupt_signals); ++i)
        sigaction(interrupt_signals[i], &action, &saved_actions[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (size_t i = 0; i < std::size(write_signals); ++i)
        sigaction(write_signals[i], &ignore, &saved_write_actions[i]);
    installed = true;
}

void remove_interrupt_handlers() {
    if (!installed) return;
    for (size_t i = 0; i < std::size(interrupt_signals); ++i)
        sigaction(interrupt_signals[i], &saved_actions[i], nullptr);
    for (size_t i = 0; i < std::size(write_signals); ++i)
        sigaction(write_signals[i], &saved_write_actions[i], nullptr);
    installed = false;
}

wait_handle interrupt_wait_handle() {
    return {interrupt_event_fd, wait_handle::ready::counter};
}
