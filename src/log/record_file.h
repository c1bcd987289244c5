#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

// The files that keep the record of a run: the session file, the MOR file and
// standard output. Their lines are gathered and handed to the file, whole,
// where the run is about to wait (before a device opens, before each poll
// step's sleep, before a pause or a dialog, when building ends, at every
// exit) and whenever a good deal has gathered: a line is in its file before
// the tone it describes sounds, and a run killed while it waits leaves in
// them everything written before, at the cost of one system call per wait
// rather than per line. A MOR block goes to the file whole as it is written.
// The first write to a file that fails is reported once on standard error as
// "tonquel: NAME: <system text>"; the file takes no later writes, the run
// plays on, and it ends with status 1. A reader of standard output that went
// away (a closed pipe) only stops the writes.
struct record_state {
    const char* name;  // in the report: the path, or "standard output"
    // The part of a failed write that reached the file is cut off again, so
    // that the file ends with whole writes only.
    bool cut_back;
    int64_t intact_length = 0;  // bytes up to the end of the last whole write
    bool failed = false;
    std::string pending = {};  // whole lines not yet handed to the file
    // The last line written with record_write_marked, which may be rewritten
    // in place: where it starts in pending while it waits there, then in the
    // file (-1: not known, the file failed meanwhile).
    size_t mark_in_pending = std::string::npos;
    int64_t mark_in_file = -1;
    size_t mark_length = 0;
};

// One printf-style line, formatted once for every file it goes to.
class formatted_line {
public:
    formatted_line(const char* format, va_list args);
    const char* text() const { return large_.empty() ? small_ : large_.data(); }
    size_t length() const { return length_; }

private:
    char small_[512];
    std::string large_;
    size_t length_;
};

// Ends a whole write to file, whose calls all succeeded (written) or the last
// of which failed (errno tells why): flushes the file, or reports the failure.
void end_record_write(FILE* file, record_state& state, bool written);
// Gathers one whole write, marker first, for the file; nothing once the
// file failed.
void record_write(FILE* file, record_state& state, const char* marker, const char* text, size_t length);
void record_vprintf(FILE* file, record_state& state, const char* marker, const char* format, va_list args);
// record_write of a line that is marked, so that it may be rewritten.
void record_write_marked(FILE* file, record_state& state, const char* text, size_t length);
// Puts text over the marked line, whose length but for its line end it must
// have: in place, wherever the line has got to, so that the file
// reads on as before. Nothing when no line is marked or the file failed.
// The mark is gone after it.
void record_rewrite_marked(FILE* file, record_state& state, const std::string& text);
void record_printf(FILE* file, record_state& state, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Hands what was gathered to the file and flushes it, or reports the failure.
void flush_record(FILE* file, record_state& state);
// Pushes what the file holds to the disk, so that a power cut loses none of it.
void sync_record(FILE* file, record_state& state);
// Closes the file, reporting a failure that only the close reveals.
void close_record(FILE* file, record_state& state);
