#pragma once

#include <cstdint>
#include <cstdio>

#include "log/record_file.h"

// The name every message starts with, whatever the process was started as.
inline constexpr const char* program_name = "tonquel";
// The version that the version block and the control protocol's status give.
inline constexpr const char* program_version = "1.13";

// The two standard streams the run writes to; tests point them elsewhere.
extern FILE* out_stream;
extern FILE* err_stream;

// The session record (session_file, process/state.h): its name and state.
extern char session_path[256];
// How the writes to the session file and to standard output have fared.
extern record_state session_record;
extern record_state out_record;

// Progress and schedule lines: standard output, and the session file.
void log_out(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Warnings and errors: standard error, and the session file behind a "#".
void log_err(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A tone line, "  %g, %d\n", as log_out writes it. The session file keeps
// it marked: a tone that --until cut is recorded with what it sounded.
void log_tone_line(double frequency, int duration);
// The last tone line, in the session file only, for a tone that sounded
// seconds of its duration: "  %g, %d" with those seconds, padded at the
// front with blanks to the same length, or with none a comment line ("#"
// over the first blank), so that the file replays what was heard. The line
// is rewritten in place, wherever it has got to.
void log_tone_cut(int64_t seconds);
// Standard error only, for what never reaches the session file. What
// standard output still holds goes out first, so that the two streams keep
// their order where they share a file (2>&1) or a terminal.
void err_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Hands the lines gathered for standard output and the session file to
// them: where the run is about to wait, and at its end (record_file.h).
void flush_records();

// Creates "session_%Y%m%d_%H%M%S" in the current directory, never over an
// existing file. Returns only on success.
void open_session_file();

// "tonquel: " then what perror would print for path and the error number err,
// on standard error only.
void report_open_failure(const char* path, int err);

// Forgets the streams and the session file of an earlier run (in-process runs).
void reset_log_state();
