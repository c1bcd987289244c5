#include "platform/native.h"

#include "platform/linux/alsa/pcm_worker.h"
#include "platform/linux/alsa/wave_audio_alsa.h"
#include "platform/linux/chooser/file_chooser_desktop.h"
#include "platform/linux/clock_posix.h"
#include "platform/linux/logind/sleep_inhibitor_logind.h"
#include "platform/linux/sound_file_sndfile.h"
#include "platform/linux/terminal/key_source_terminal.h"
#include "platform/linux/terminal/terminal_line_tty.h"

#include <unistd.h>

namespace {

// ALSA's default device, the terminal, zenity or kdialog, the POSIX clock,
// libsndfile, logind, a Unix socket for --control.
struct linux_platform final : native_platform {
    posix_clock clock;
    std::unique_ptr<wave_audio> audio = make_alsa_wave_audio();
    std::unique_ptr<key_source> keys = make_terminal_key_source();
    std::unique_ptr<file_chooser> chooser = make_desktop_file_chooser();
    std::unique_ptr<terminal_line> status_line = make_tty_terminal_line(STDOUT_FILENO);
    std::unique_ptr<terminal_line> progress_line = make_tty_terminal_line(STDERR_FILENO);
    std::unique_ptr<sound_file_writer> sound_writer = make_sndfile_writer();
    std::unique_ptr<sleep_inhibitor> sleep = make_logind_sleep_inhibitor();
    std::unique_ptr<control_channel> control = make_system_control_channel();
    std::unique_ptr<key_store> key_files = make_system_key_store();
    platform services_{clock, *audio, *keys, *chooser, *status_line, *progress_line, *sound_writer,
                       *sleep, *control, *key_files};

    platform& services() override { return services_; }
    bool left_a_device_behind() const override {
        return pcm_worker::stuck(alsa_direction::playback) > 0 || pcm_worker::stuck(alsa_direction::capture) > 0;
    }
};

}  // namespace

std::unique_ptr<native_platform> make_native_platform() {
    return std::make_unique<linux_platform>();
}
