#pragma once

#include <cstdio>

#include "platform/platform.h"

// The platform the run is using; set for the length of run_tonquel.
extern platform* current_platform;

// The whole run: probe, options, schedule, play loop, exit. Returns the exit
// status. out and err stand for standard output and standard error.
int run_tonquel(int argc, char** argv, platform& services, FILE* out = stdout, FILE* err = stderr);

// The result of the last schedule-building call; non-zero makes the exit
// status 1 after what was built has played.
extern int build_status;
