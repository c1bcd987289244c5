#pragma once

#include "platform/clock.h"
#include "platform/file_chooser.h"
#include "platform/key_source.h"
#include "platform/wave_audio.h"

// Everything the program asks of the operating system, apart from plain
// files, standard streams and signals.
struct platform {
    clock_source& clock;
    wave_audio& audio;
    key_source& keys;
    file_chooser& chooser;
};
