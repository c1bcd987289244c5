#pragma once

#include "platform/clock.h"
#include "platform/control_channel.h"
#include "platform/file_chooser.h"
#include "platform/key_source.h"
#include "platform/key_store.h"
#include "platform/sleep_inhibitor.h"
#include "platform/sound_file.h"
#include "platform/terminal_line.h"
#include "platform/wave_audio.h"

// Everything the program asks of the operating system, apart from plain
// files, standard streams and signals. A system whose back ends lack the
// last three runs without them: no lines drawn on the terminal, no export.
// The control channel (--control, --send) is the same: without it no run
// can be controlled from outside.
struct platform {
    clock_source& clock;
    wave_audio& audio;
    key_source& keys;
    file_chooser& chooser;
    terminal_line& status_line = none_terminal_line();    // on standard output
    terminal_line& progress_line = none_terminal_line();  // on standard error
    sound_file_writer& sound_writer = none_sound_file_writer();
    sleep_inhibitor& sleep = none_sleep_inhibitor();
    control_channel& control = none_control_channel();
    key_store& key_files = none_key_store();
};
