#include "platform/linux/alsa/stderr_catcher.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

// At most this much of what was caught is looked at for the last line.
constexpr off_t tail_bytes = 4096;

}  // namespace

stderr_catcher::stderr_catcher() {
    // Standard error closed: nothing to keep away from the user, and the
    // in-memory file must not become descriptor 2 by chance.
    if (fcntl(STDERR_FILENO, F_GETFD) < 0) return;
    caught_ = memfd_create("tonquel-library-messages", MFD_CLOEXEC);
    if (caught_ < 0) return;
    saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_ < 0 || dup2(caught_, STDERR_FILENO) < 0) {
        if (saved_ >= 0) close(saved_);
        close(caught_);
        saved_ = caught_ = -1;
    }
}

stderr_catcher::~stderr_catcher() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    close(caught_);
}

std::string stderr_catcher::last_line() const {
    if (caught_ < 0) return {};
    const off_t size = lseek(caught_, 0, SEEK_END);
    if (size <= 0) return {};
    const off_t start = size > tail_bytes ? size - tail_bytes : 0;
    std::vector<char> text(static_cast<size_t>(size - start));
    if (pread(caught_, text.data(), text.size(), start) != static_cast<ssize_t>(text.size())) return {};
    std::string all(text.begin(), text.end());
    while (!all.empty() && (all.back() == '\n' || all.back() == '\r')) all.pop_back();
    const size_t line_start = all.rfind('\n');
    return line_start == std::string::npos ? all : all.substr(line_start + 1);
}
