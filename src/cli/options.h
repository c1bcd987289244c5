#pragma once

// Parses the options into the run settings, opening the session file, the
// MOR file and the offsets as they come. Returns the index of the first
// positional argument. Usage errors end the run with status 2.
int parse_options(int argc, char** argv);

// False when the options ask for an export, the help, the version or the
// device list, which use no sound device: the start-up probe is then left
// out. Reads the options as parse_options will, without acting on them,
// apart from noting the devices named (settings.output_device and
// input_device) for the probe and --control's place (settings.control).
bool run_needs_sound_devices(int argc, char** argv);

// Writes the version block and the usage text to standard error; returns 2.
int usage();

// "%s:\n\tVersion: %s\n\t%s\n\t%s\n" filled in.
const char* version_block();
