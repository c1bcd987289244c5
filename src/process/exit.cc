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

void close_plainly(FILE*& file) {
    if (file != nullptr) fclose(file);
    file = nullptr;
}

}  // namespace

void cleanup_and_exit(int code) {
    release_all();
    // A run that played through but lost part of its record did not succeed.
    if (code == 0 && record_incomplete) code = 1;
    throw run_exit{code};
}

void exit_closing_files(int code) {
    release_only(release_order::pending_records);
    close_plainly(session_file);
    close_plainly(mor_file);
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
