#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/wait_handle.h"

// The few operating-system calls that the core makes itself. Each system
// has its own implementation, so that the core compiles unchanged on both.

// Opens path for writing as a new text file, only if nothing of that name
// exists yet: a file or link that appears after the name was chosen is
// never truncated or followed. nullptr with error set otherwise (EEXIST
// when the name is taken).
FILE* create_new_file(const char* path, int& error);

// Opens path as fopen does with mode "r" or "w". Where path is a FIFO whose
// other end nobody holds yet, the open, and for reading every read, waits in
// short slices that look at stop, and fails with EINTR once it is set: the
// interrupt handlers restart the calls they interrupt, so a plain open would
// sit through Ctrl-C. Writes block as fopen's would, and go on.
FILE* open_file_interruptibly(const char* path, const char* mode, const volatile std::sig_atomic_t& stop,
                              int& error);

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

// Moves where the next write to file goes to position, one that
// file_position gave; false when it cannot.
bool seek_file(FILE* file, int64_t position);

// Cuts file back to its first length bytes, dropping what a failed write left
// behind them. Does nothing to a file that cannot be cut (a device, a pipe).
void truncate_file(FILE* file, int64_t length);

// Bytes of physical memory; 0 when the system does not tell.
uint64_t physical_memory_bytes();

// Lets the calling thread yield to the others when the processor is short:
// a thread that serves the network never takes time from the sound.
void lower_thread_priority();

// Routes the interrupt signals to handler, which may only record them: Ctrl-C
// everywhere, termination and hang-up where the system has them. A reader of
// standard output that goes away does not kill the run either, nor does a
// file that reaches the size limit: the write fails instead, and the run
// reports it. Ctrl-Break keeps its default action.
void install_interrupt_handlers(void (*handler)(int));
// Ready once an interrupt signal arrived (a counter): the one wait wakes on
// it, so that a signal never waits for the wait's deadline.
wait_handle interrupt_wait_handle();
// Puts back what install_interrupt_handlers replaced.
void remove_interrupt_handlers();
