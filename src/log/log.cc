#include "log/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "log/terminal_lines.h"
#include "platform/os.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/state.h"

FILE* out_stream = stdout;
FILE* err_stream = stderr;
char session_path[256];
record_state session_record{session_path, true};
record_state out_record{"standard output", false};

namespace {

// The line goes to the stream and the session file, formatted once. The
// record's lines wait for flush_records; standard error (no stream_record)
// takes its line at once.
void write_to_both(FILE* stream, record_state* stream_record, const char* marker, const char* format,
                   va_list args) {
    clear_terminal_lines();
    formatted_line line(format, args);
    if (stream_record != nullptr) {
        record_write(stream, *stream_record, "", line.text(), line.length());
    } else {
        flush_record(out_stream, out_record);
        fwrite(line.text(), 1, line.length(), stream);
        fflush(stream);
    }
    record_write(session_file, session_record, marker, line.text(), line.length());
}

}  // namespace

void log_out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_to_both(out_stream, &out_record, "", format, args);
    va_end(args);
}

namespace {

// The tone line marked in the session file, as written.
struct marked_tone {
    double frequency = 0;
    std::string text;  // without its line end
};
marked_tone last_tone;

}  // namespace

void log_tone_line(double frequency, int duration) {
    char text[64];
    const int length = snprintf(text, sizeof text, "  %g, %d\n", frequency, duration);
    const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
    clear_terminal_lines();
    record_write(out_stream, out_record, "", text, size);
    record_write_marked(session_file, session_record, text, size);
    last_tone = {frequency, std::string(text, size > 0 ? size - 1 : 0)};
}

void log_tone_cut(int64_t seconds) {
    if (last_tone.text.empty()) return;
    std::string text;
    if (seconds >= 1) {
        char core[64];
        snprintf(core, sizeof core, "%g, %lld", last_tone.frequency, static_cast<long long>(seconds));
        // No more digits than the whole duration had: it fits.
        if (std::strlen(core) > last_tone.text.size()) return;
        text = std::string(last_tone.text.size() - std::strlen(core), ' ') + core;
    } else {
        text = "#" + last_tone.text.substr(1);
    }
    record_rewrite_marked(session_file, session_record, text);
    last_tone = {};
}

void log_err(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write_to_both(err_stream, nullptr, "#", format, args);
    va_end(args);
}

void err_printf(const char* format, ...) {
    flush_record(out_stream, out_record);
    va_list args;
    va_start(args, format);
    vfprintf(err_stream, format, args);
    va_end(args);
    fflush(err_stream);
}

void flush_records() {
    flush_record(out_stream, out_record);
    flush_record(session_file, session_record);
}

void report_open_failure(const char* path, int err) {
    clear_terminal_lines();
    err_printf("%s: %s: %s\n", program_name, path, strerror(err));
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
        err_printf("%s: %s: file exists\n", program_name, session_path);
        flush_records();
        current_platform->clock.sleep_ms(1500);
        check_interrupt();
    }
    record_printf(out_stream, out_record, "\n#Recording session in file: %s\n\n", session_path);
}

void reset_log_state() {
    out_stream = stdout;
    err_stream = stderr;
    session_file = nullptr;
    session_path[0] = '\0';
    session_record = record_state{session_path, true};
    out_record = record_state{"standard output", false};
    record_incomplete = false;
    last_tone = {};
}

namespace {

void release_session_file() {
    if (session_file == nullptr) return;
    close_record(session_file, session_record);
    session_file = nullptr;
}

const release_step pending_records_release{release_order::pending_records, flush_records};
const release_step session_file_release{release_order::session, release_session_file, reset_log_state};

}  // namespace
