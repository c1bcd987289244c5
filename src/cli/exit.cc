#include "cli/exit.h"

#include <iterator>

#include "cli/run.h"
#include "engine/capture.h"
#include "engine/playback.h"
#include "log/log.h"

volatile std::sig_atomic_t pending_signal = 0;

namespace {

constexpr int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved_actions[std::size(handled_signals)];
struct sigaction saved_pipe_action;
bool handlers_installed = false;

extern "C" void record_signal(int signal_number) {
    pending_signal = signal_number;
}

}  // namespace

void cleanup_and_exit(int code) {
    if (wave_in) {
        wave_in->reset();
        wave_in.reset();
    }
    if (wave_out) {
        wave_out->reset();
        wave_out.reset();
    }
    if (session_file != nullptr) {
        fclose(session_file);
        session_file = nullptr;
    }
    if (mor_file != nullptr) {
        fclose(mor_file);
        mor_file = nullptr;
    }
    if (current_platform != nullptr) current_platform->keys.restore();
    throw run_exit{code, false};
}

void plain_exit(int code) {
    throw run_exit{code, true};
}

void on_sigint(int /*signal_number*/) {
    cleanup_and_exit(0);
}

void install_signal_handlers() {
    if (handlers_installed) return;
    struct sigaction action {};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep or a read that the signal interrupts returns at
    // once, so the run acts on the signal without delay.
    action.sa_flags = 0;
    for (size_t i = 0; i < std::size(handled_signals); ++i)
        sigaction(handled_signals[i], &action, &saved_actions[i]);
    // A reader of standard output that goes away must not kill the run before
    // the teardown: a failed write changes nothing.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &saved_pipe_action);
    handlers_installed = true;
}

void remove_signal_handlers() {
    if (!handlers_installed) return;
    for (size_t i = 0; i < std::size(handled_signals); ++i)
        sigaction(handled_signals[i], &saved_actions[i], nullptr);
    sigaction(SIGPIPE, &saved_pipe_action, nullptr);
    handlers_installed = false;
}
