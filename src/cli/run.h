#pragma once

#include <cstdio>

#include "platform/platform.h"

// The whole run: probe, options, schedule, play loop, exit. Returns the exit
// status. out and err stand for standard output and standard error.
int run_tonquel(int argc, char** argv, platform& services, FILE* out = stdout, FILE* err = stderr);
