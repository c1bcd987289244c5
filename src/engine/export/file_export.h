#pragma once

#include <memory>
#include <string>

#include "platform/sound_file.h"

// --output: the schedule is written to a sound file instead of played. The
// file is open from the start of the play loop to its end.
extern std::unique_ptr<sound_file> export_file;

// ".wav, .flac or .ogg": the types that --output writes on this system;
// empty when it writes none.
std::string export_type_list();
// Ends the run unless path names a type of sound file that this system
// writes.
void check_export_type(const char* path);
// Opens the file for the whole schedule, or ends the run with status 1.
void begin_export(const char* path);
// Writes one tone of seconds (1 or more) from phase 0: exactly seconds x
// 44100 frames, the frames that playback renders.
void export_tone(double frequency, int seconds, int pulse);
// Writes frames that a stream rendered (--smooth), or ends the run.
void export_frames(const int16_t* samples, uint32_t frames);
// Puts the finished file in place, or ends the run with status 1.
void finish_export();
// Drops an unfinished file; an earlier file of its name stays as it was.
void abandon_export();
// True from the options on, while --output has not put its file in place.
bool export_pending();
// The interrupt's action meanwhile: the file asked for is not there, so the
// run says so and ends with status 1; the teardown drops what was written.
[[noreturn]] void interrupt_export();
void reset_export_state();
