#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>

// The files that keep the record of a run: the session file, the MOR file and
// standard output. Each whole write (a line, a MOR block) is flushed before it
// returns, so that a run killed at any moment leaves in them everything
// written before. The first write to a file that fails is reported once on
// standard error as "tonquel: NAME: <system text>"; the file takes no later
// writes, the run plays on, and it ends with status 1. A reader of standard
// output that went away (a closed pipe) only stops the writes.
struct record_state {
    const char* name;  // in the report: the path, or "standard output"
    // The part of a failed write that reached the file is cut off again, so
    // that the file ends with whole writes only.
    bool cut_back;
    int64_t intact_length = 0;  // bytes up to the end of the last whole write
    bool failed = false;
};

// Ends a whole write to file, whose calls all succeeded (written) or the last
// of which failed (errno tells why): flushes the file, or reports the failure.
void end_record_write(FILE* file, record_state& state, bool written);
// One whole formatted write, marker first; nothing once the file failed.
void record_vprintf(FILE* file, record_state& state, const char* marker, const char* format, va_list args);
void record_printf(FILE* file, record_state& state, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Pushes what the file holds to the disk, so that a power cut loses none of it.
void sync_record(FILE* file, record_state& state);
// Closes the file, reporting a failure that only the close reveals.
void close_record(FILE* file, record_state& state);
