#pragma once

#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "platform/wave_audio.h"

// What every room of the run shares: the platform it runs on, how building
// went, and the resources that the exit releases. Each resource is set by
// its owner, which also registers how it is released (process/release.h).

// The platform the run is using; set for the length of run_tonquel.
extern platform* current_platform;

// The result of the last schedule-building call; non-zero makes the exit
// status 1 after what was built has played.
extern int build_status;

// The open input device while a tone is captured, and the open output device
// while a tone sounds.
extern std::unique_ptr<wave_input> wave_in;
extern std::unique_ptr<wave_output> wave_out;

// The session record, open from -r to the exit, and the MOR file, open from
// -m to the exit.
extern FILE* session_file;
extern FILE* mor_file;

// A write to a file of the record failed: the run ends with status 1.
extern bool record_incomplete;
