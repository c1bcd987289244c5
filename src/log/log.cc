#include "log/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "cli/exit.h"
#include "cli/run.h"
#include "log/terminal_lines.h"
#include "platform/os.h"

FILE* out_stream = stdout;
FILE* err_stream = stderr;
FILE* session_file = nullptr;
char session_path[256];

namespace {

void write_to_both(FILE* stream, const char* marker, const char* format, va_list args) {
    clear_terminal_lines();
    va_list copy;
    va_copy(copy, args);
    vfprintf(stream, format, args);
    if (session_file != nullptr) {
        fputs(marker, session_file);
        vfprintf(session_file, format, copy);
    }
    va_end(copy);
}

}  // namespace

void log_out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_to_both(out_stream, "", format, args);
    va_end(args);
}

void log_err(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_to_both(err_stream, "#", format, args);
    va_end(args);
}

void report_open_failure(const char* path, int err) {
    clear_terminal_lines();
    fprintf(err_stream, "%s: %s: %s\n", program_name, path, strerror(err));
}

void open_session_file() {
    for (;;) {
        std::tm local = local_time(current_platform->clock.now_seconds());
        strftime(session_path, sizeof session_path, "session_%Y%m%d_%H%M%S", &local);

        int error = 0;
        session_file = create_new_file(session_path, error);
        if (session_file != nullptr) break;
        if (error != EEXIST) {
            report_open_failure(session_path, error);
            cleanup_and_exit(1);
        }
        // Longer than the name's one-second resolution, so the next name differs.
        fprintf(err_stream, "%s: %s: file exists\n", program_name, session_path);
        current_platform->clock.sleep_ms(1500);
        check_interrupt();
    }
    fprintf(out_stream, "\n#Recording session in file: %s\n\n", session_path);
}

void reset_log_state() {
    out_stream = stdout;
    err_stream = stderr;
    session_file = nullptr;
    session_path[0] = '\0';
}
