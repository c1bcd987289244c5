#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

// The few operating-system calls that the core makes itself. Each system
// has its own implementation, so that the core compiles unchanged on both.

// Opens path for writing as a new text file, only if nothing of that name
// exists yet: a file or link that appears after the name was chosen is
// never truncated or followed. nullptr with error set otherwise (EEXIST
// when the name is taken).
FILE* create_new_file(const char* path, int& error);

// The local broken-down time of a calendar second, with the time-zone
// settings loaded afresh.
std::tm local_time(int64_t seconds);

// Pushes what the system still holds of file to the disk, so that a power cut
// loses none of it (the stream's own buffer is flushed before). 0, or the
// error number; a file that cannot be synchronised (a device) gives 0.
int sync_file(FILE* file);

// How many bytes of file lie before the point where the next write goes
// (after a flush); -1 for a stream without a position (a pipe, a terminal).
int64_t file_position(FILE* file);

// Cuts file back to its first length bytes, dropping what a failed write left
// behind them. Does nothing to a file that cannot be cut (a device, a pipe).
void truncate_file(FILE* file, int64_t length);

// Bytes of physical memory; 0 when the system does not tell.
uint64_t physical_memory_bytes();

// Routes the interrupt signals to handler, which may only record them: Ctrl-C
// everywhere, termination and hang-up where the system has them. A reader of
// standard output that goes away does not kill the run either, nor does a
// file that reaches the size limit: the write fails instead, and the run
// reports it. Ctrl-Break keeps its default action.
void install_interrupt_handlers(void (*handler)(int));
// Puts back what install_interrupt_handlers replaced.
void remove_interrupt_handlers();
