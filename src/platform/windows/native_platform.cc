#include "platform/native.h"

#include "platform/windows/clock_win32.h"
#include "platform/windows/file_chooser_dialog.h"
#include "platform/windows/key_source_console.h"
#include "platform/windows/sleep_inhibitor_win32.h"
#include "platform/windows/sound_file_wav.h"
#include "platform/windows/terminal_line_console.h"
#include "platform/windows/wave_audio_winmm.h"

namespace {

// WinMM's wave mapper, the console's input records, the common open dialog,
// lines drawn in the console window, WAV files through WinMM, the
// thread execution state, a named pipe for --control.
struct windows_platform final : native_platform {
    win32_clock clock;
    std::unique_ptr<wave_audio> audio = make_winmm_wave_audio();
    std::unique_ptr<key_source> keys = make_console_key_source();
    std::unique_ptr<file_chooser> chooser = make_dialog_file_chooser();
    std::unique_ptr<terminal_line> status_line = make_console_terminal_line(STD_OUTPUT_HANDLE);
    std::unique_ptr<terminal_line> progress_line = make_console_terminal_line(STD_ERROR_HANDLE);
    std::unique_ptr<sound_file_writer> sound_writer = make_wav_writer();
    std::unique_ptr<sleep_inhibitor> sleep = make_win32_sleep_inhibitor();
    std::unique_ptr<control_channel> control = make_system_control_channel();
    std::unique_ptr<key_store> key_files = make_system_key_store();
    platform services_{clock, *audio, *keys, *chooser, *status_line, *progress_line, *sound_writer,
                       *sleep, *control, *key_files};

    platform& services() override { return services_; }
};

}  // namespace

std::unique_ptr<native_platform> make_native_platform() {
    return std::make_unique<windows_platform>();
}
