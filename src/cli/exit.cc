#include "cli/exit.h"

#include "cli/run.h"
#include "engine/capture.h"
#include "engine/file_export.h"
#include "engine/playback.h"
#include "log/log.h"
#include "platform/os.h"

volatile std::sig_atomic_t pending_signal = 0;

namespace {

extern "C" void record_signal(int signal_number) {
    pending_signal = signal_number;
}

}  // namespace

void cleanup_and_exit(int code) {
    flush_records();
    if (wave_in) {
        wave_in->reset();
        wave_in.reset();
    }
    if (wave_out) {
        wave_out->reset();
        wave_out.reset();
    }
    abandon_export();
    if (session_file != nullptr) {
        close_record(session_file, session_record);
        session_file = nullptr;
    }
    if (mor_file != nullptr) {
        close_record(mor_file, mor_record);
        mor_file = nullptr;
    }
    if (current_platform != nullptr) current_platform->keys.restore();
    // A run that played through but lost part of its record did not succeed.
    if (code == 0 && record_incomplete) code = 1;
    throw run_exit{code, false};
}

void plain_exit(int code) {
    throw run_exit{code, true};
}

void on_sigint(int /*signal_number*/) {
    if (export_pending()) interrupt_export();
    cleanup_and_exit(0);
}

void install_signal_handlers() {
    install_interrupt_handlers(record_signal);
}

void remove_signal_handlers() {
    remove_interrupt_handlers();
}
