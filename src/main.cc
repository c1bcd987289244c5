#include "cli/run.h"
#include "platform/clock_posix.h"
#include "platform/file_chooser_desktop.h"
#include "platform/key_source_terminal.h"
#include "platform/wave_audio_alsa.h"

int main(int argc, char** argv) {
    posix_clock clock;
    auto audio = make_alsa_wave_audio();
    auto keys = make_terminal_key_source();
    auto chooser = make_desktop_file_chooser();
    platform services{clock, *audio, *keys, *chooser};
    return run_tonquel(argc, argv, services);
}
