#include "platform/os.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <csignal>

namespace {

using handler_type = void (*)(int);
handler_type saved_interrupt = SIG_DFL;
handler_type interrupt_handler = nullptr;
bool installed = false;

// The C library runs the handler on a thread of its own for each Ctrl-C and
// puts the default action back first; putting ours back at once keeps a
// second Ctrl-C on the same path.
// Set by the handler, so that the one wait wakes at once (auto-reset: the
// wait that woke clears it).
HANDLE interrupt_event = nullptr;

extern "C" void forward_interrupt(int signal_number) {
    signal(SIGINT, forward_interrupt);
    if (interrupt_handler != nullptr) interrupt_handler(signal_number);
    if (interrupt_event != nullptr) SetEvent(interrupt_event);
}

}  // namespace

FILE* create_new_file(const char* path, int& error) {
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    FILE* file = _fdopen(fd, "w");
    if (file == nullptr) {
        error = errno;
        _close(fd);
    }
    return file;
}

// Windows has no FIFOs that an open could wait on: a pipe by name opens at
// once or fails.
FILE* open_file_interruptibly(const char* path, const char* mode, const volatile std::sig_atomic_t&, int& error) {
    FILE* file = fopen(path, mode);
    if (file == nullptr) error = errno;
    return file;
}

int sync_file(FILE* file) {
    if (fflush(file) != 0) return errno;
    // A console or a pipe has nothing to write to a disk.
    if (_commit(_fileno(file)) != 0 && errno != EBADF && errno != EINVAL) return errno;
    return 0;
}

int64_t file_position(FILE* file) {
    return _ftelli64(file);
}

bool seek_file(FILE* file, int64_t position) {
    return _fseeki64(file, position, SEEK_SET) == 0;
}

void truncate_file(FILE* file, int64_t length) {
    // A console or a pipe cannot be cut; nothing else is to be done then.
    _chsize_s(_fileno(file), length);
}

std::tm local_time(int64_t seconds) {
    _tzset();
    __time64_t now = seconds;
    std::tm local{};
    _localtime64_s(&local, &now);
    return local;
}

uint64_t physical_memory_bytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return status.ullTotalPhys;
}

void lower_thread_priority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

// Windows has no hang-up or termination signal to catch, and a broken pipe
// is a failed write, not a signal. Ctrl-Break (SIGBREAK) keeps its default.
void install_interrupt_handlers(void (*handler)(int)) {
    if (installed) return;
    if (interrupt_event == nullptr) interrupt_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    interrupt_handler = handler;
    saved_interrupt = signal(SIGINT, forward_interrupt);
    installed = true;
}

void remove_interrupt_handlers() {
    if (!installed) return;
    signal(SIGINT, saved_interrupt);
    interrupt_handler = nullptr;
    installed = false;
}

wait_handle interrupt_wait_handle() {
    return {reinterpret_cast<intptr_t>(interrupt_event), wait_handle::ready::counter};
}
