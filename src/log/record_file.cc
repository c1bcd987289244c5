#include "log/record_file.h"

#include <cerrno>
#include <cstring>

#include "log/log.h"
#include "log/terminal_lines.h"
#include "platform/os.h"
#include "process/state.h"

namespace {

// Gathered lines go to the file at the latest when they reach this size.
constexpr size_t hand_over_bytes = 64 * 1024;

// file is the stream to cut back, or nullptr when it is closed already.
void record_failed(FILE* file, record_state& state, int error) {
    state.failed = true;
    state.pending.clear();
    // The reader chose to stop reading; the run has nothing to report.
    if (error == EPIPE) return;
    if (error == 0) error = EIO;  // the C library need not say why
    if (state.cut_back && file != nullptr) truncate_file(file, state.intact_length);
    // Not over the status line or the progress bar: they go first.
    clear_terminal_lines();
    err_printf("%s: %s: %s\n", program_name, state.name, strerror(error));
    record_incomplete = true;
}

}  // namespace

formatted_line::formatted_line(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(small_, sizeof small_, format, args);
    if (length >= 0 && static_cast<size_t>(length) >= sizeof small_) {
        large_.resize(static_cast<size_t>(length) + 1);
        vsnprintf(large_.data(), large_.size(), format, copy);
        large_.resize(static_cast<size_t>(length));
    }
    va_end(copy);
    length_ = length > 0 ? static_cast<size_t>(length) : 0;
}

void end_record_write(FILE* file, record_state& state, bool written) {
    int error = written ? 0 : errno;
    // A failed write may leave only the error flag behind, and a later flush
    // of the emptied buffer then succeeds.
    if (written && (fflush(file) != 0 || ferror(file))) error = errno;
    if (!written || ferror(file)) {
        record_failed(file, state, error);
        return;
    }
    // In bytes of the file, which need not be the characters written (text
    // mode on some systems).
    if (state.cut_back) state.intact_length = file_position(file);
}

void record_write(FILE* file, record_state& state, const char* marker, const char* text, size_t length) {
    if (file == nullptr || state.failed) return;
    state.pending += marker;
    state.pending.append(text, length);
    if (state.pending.size() >= hand_over_bytes) flush_record(file, state);
}

void record_write_marked(FILE* file, record_state& state, const char* text, size_t length) {
    if (file == nullptr || state.failed) return;
    // From here on the mark is this line; an earlier one is gone.
    state.mark_in_pending = state.pending.size();
    state.mark_in_file = -1;
    state.mark_length = length;
    record_write(file, state, "", text, length);
}

void record_rewrite_marked(FILE* file, record_state& state, const std::string& text) {
    const size_t in_pending = state.mark_in_pending;
    const int64_t in_file = state.mark_in_file;
    const bool fits = text.size() + 1 == state.mark_length;
    state.mark_in_pending = std::string::npos;
    state.mark_in_file = -1;
    if (file == nullptr || state.failed || !fits) return;
    if (in_pending != std::string::npos) {
        state.pending.replace(in_pending, text.size(), text);
        return;
    }
    if (in_file < 0) return;
    // What waits goes first, so that the file's end is where it goes on.
    flush_record(file, state);
    if (state.failed) return;
    // The same bytes, none of them a line end: text mode changes nothing.
    const bool written = seek_file(file, in_file) && fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         fflush(file) == 0 && fseek(file, 0, SEEK_END) == 0;
    end_record_write(file, state, written);
}

void record_vprintf(FILE* file, record_state& state, const char* marker, const char* format, va_list args) {
    if (file == nullptr || state.failed) return;
    formatted_line line(format, args);
    record_write(file, state, marker, line.text(), line.length());
}

void record_printf(FILE* file, record_state& state, const char* format, ...) {
    va_list args;
    va_start(args, format);
    record_vprintf(file, state, "", format, args);
    va_end(args);
}

void flush_record(FILE* file, record_state& state) {
    if (file == nullptr || state.failed || state.pending.empty()) return;
    const size_t size = state.pending.size();
    // A marked line's place in the file is where the file stands when the
    // lines before it are in.
    const size_t mark = state.mark_in_pending;
    state.mark_in_pending = std::string::npos;
    const size_t before = mark == std::string::npos ? size : mark;
    bool whole = fwrite(state.pending.data(), 1, before, file) == before;
    if (whole && mark != std::string::npos) {
        whole = fflush(file) == 0 && !ferror(file);
        state.mark_in_file = whole ? file_position(file) : -1;
    }
    whole = whole && fwrite(state.pending.data() + before, 1, size - before, file) == size - before;
    if (whole && fflush(file) == 0 && !ferror(file)) {
        state.pending.clear();
        end_record_write(file, state, true);
        return;
    }
    state.mark_in_file = -1;
    if (!state.cut_back) {
        state.pending.clear();
        end_record_write(file, state, false);
        return;
    }
    // The file took part of it at most (a full disk, a size limit). From its
    // last whole write on, it takes one line at a time, so that it keeps
    // every line that fits; the first one that does not is the failure.
    // The C library drops what it held of a failed write.
    std::string text;
    text.swap(state.pending);
    clearerr(file);
    truncate_file(file, state.intact_length);
    if (fseek(file, 0, SEEK_END) != 0) {
        state.pending.clear();
        end_record_write(file, state, false);
        return;
    }
    size_t from = 0;
    bool written = true;
    while (written && from < text.size()) {
        size_t end = text.find('\n', from);
        end = end == std::string::npos ? text.size() : end + 1;
        written = fwrite(text.data() + from, 1, end - from, file) == end - from;
        if (written) end_record_write(file, state, true);
        written = written && !state.failed;
        from = end;
    }
    if (!written && !state.failed) end_record_write(file, state, false);
    state.pending.swap(text);  // keeps the room for the next lines
    state.pending.clear();
}

void sync_record(FILE* file, record_state& state) {
    flush_record(file, state);
    if (file == nullptr || state.failed) return;
    if (int error = sync_file(file)) record_failed(file, state, error);
}

void close_record(FILE* file, record_state& state) {
    flush_record(file, state);
    bool was_intact = !state.failed;
    if (fclose(file) != 0 && was_intact) record_failed(nullptr, state, errno);
}
