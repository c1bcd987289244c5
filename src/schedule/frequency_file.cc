#include "schedule/frequency_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "log/log.h"
#include "platform/os.h"
#include "process/exit.h"
#include "schedule/admission.h"
#include "schedule/duration.h"
#include "schedule/fdt.h"

namespace {

// A line and its line end hold at most this many characters.
constexpr int longest_line = 8192;

const char* skip_blanks(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

bool is_tone_line(const char* line) {
    char first = *skip_blanks(line);
    return first == '-' || first == '+' || (first >= '0' && first <= '9');
}

void add_tone_line(const char* line) {
    double frequency = strtod(skip_blanks(line), nullptr);
    const char* comma = strchr(line, ',');
    int duration = comma != nullptr ? parse_duration(comma + 1) : default_duration;
    add_frequency(frequency, duration);
}

// A UTF-8 byte-order mark that an editor put before the first line is no
// part of it. It is dropped, and the characters of the line that it kept
// out of the buffer are read after, so the first line may be as long as any.
void skip_byte_order_mark(char* line, FILE* file) {
    if (strncmp(line, "\xEF\xBB\xBF", 3) != 0) return;
    const size_t length = strlen(line + 3);
    memmove(line, line + 3, length + 1);
    if (length == longest_line - 3 && strchr(line, '\n') == nullptr &&
        fgets(line + length, 4, file) == nullptr)
        line[length] = '\0';
}

}  // namespace

int read_frequency_file(const char* path) {
    // Closed on every way out, the run's own exits included. A FIFO that
    // nobody writes to yet is waited for, until Ctrl-C.
    int error = 0;
    std::unique_ptr<FILE, int (*)(FILE*)> file(open_file_interruptibly(path, "r", pending_signal, error), fclose);
    if (file == nullptr) {
        check_interrupt();
        report_open_failure(path, error);
        return -1;
    }
    static char line[longest_line + 1];
    bool first_line = true;
    while (fgets(line, sizeof line, file.get()) != nullptr) {
        if (first_line) skip_byte_order_mark(line, file.get());
        first_line = false;
        check_interrupt();
        // No line end before the first NUL: too long, cut off at the end of
        // the file, or holding a NUL.
        if (strchr(line, '\n') == nullptr) {
            file.reset();
            log_err("%s: %s: line too long or data file corrupted: %s\n", program_name, path, line);
            return -1;
        }
        if (is_tone_line(line)) {
            add_tone_line(line);
        } else {
            fdt_insert(0.0, 0, line, static_cast<int>(fdt_pos));
            ++fdt_pos;
        }
    }
    // A read error is no end of file: the schedule would be silently short.
    if (ferror(file.get())) {
        check_interrupt();
        report_open_failure(path, errno);
        return -1;
    }
    return 0;
}
