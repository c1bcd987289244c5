#include "process/exit.h"

#include <cstdio>

#include "platform/os.h"
#include "process/release.h"
#include "process/state.h"

volatile std::sig_atomic_t pending_signal = 0;

namespace {

extern "C" void record_signal(int signal_number) {
    pending_signal = signal_number;
}

int ending_code = 0;

void close_plainly(FILE*& file) {
    if (file != nullptr) fclose(file);
    file = nullptr;
}

}  // namespace

void cleanup_and_exit(int code) {
    ending_code = code;
    release_all();
    throw run_exit{ending_status()};
}

int ending_status() {
    // A run that played through but lost part of its record did not succeed.
    return ending_code == 0 && record_incomplete ? 1 : ending_code;
}

void exit_closing_files(int code) {
    ending_code = code;
    release_only(release_order::pending_records);
    close_plainly(session_file);
    close_plainly(mor_file);
    // No socket is left behind on this way out either.
    release_only(release_order::control);
    throw run_exit{code};
}

void on_sigint(int /*signal_number*/) {
    interrupt_all();
    cleanup_and_exit(0);
}

void install_signal_handlers() {
    install_interrupt_handlers(record_signal);
}

void remove_signal_handlers() {
    remove_interrupt_handlers();
}
