#include "log/record_file.h"

#include <cerrno>
#include <cstring>

#include "log/log.h"
#include "platform/os.h"
#include "process/state.h"

namespace {

// file is the stream to cut back, or nullptr when it is closed already.
void record_failed(FILE* file, record_state& state, int error) {
    state.failed = true;
    // The reader chose to stop reading; the run has nothing to report.
    if (error == EPIPE) return;
    if (error == 0) error = EIO;  // the C library need not say why
    if (state.cut_back && file != nullptr) truncate_file(file, state.intact_length);
    fprintf(err_stream, "%s: %s: %s\n", program_name, state.name, strerror(error));
    fflush(err_stream);
    record_incomplete = true;
}

}  // namespace

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

void record_vprintf(FILE* file, record_state& state, const char* marker, const char* format, va_list args) {
    if (file == nullptr || state.failed) return;
    bool written = fputs(marker, file) >= 0 && vfprintf(file, format, args) >= 0;
    end_record_write(file, state, written);
}

void record_printf(FILE* file, record_state& state, const char* format, ...) {
    va_list args;
    va_start(args, format);
    record_vprintf(file, state, "", format, args);
    va_end(args);
}

void sync_record(FILE* file, record_state& state) {
    if (file == nullptr || state.failed) return;
    if (int error = sync_file(file)) record_failed(file, state, error);
}

void close_record(FILE* file, record_state& state) {
    bool was_intact = !state.failed;
    if (fclose(file) != 0 && was_intact) record_failed(nullptr, state, errno);
}
