#pragma once

#include <csignal>
#include <pthread.h>
#include <thread>
#include <utility>

// Starts a device thread with every signal blocked, so that Ctrl-C and its
// kin reach the main thread, whose interrupted sleep is what acts on them.
template <typename... Args>
std::thread start_device_thread(Args&&... args) {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    struct restore_mask {
        sigset_t* mask;
        ~restore_mask() { pthread_sigmask(SIG_SETMASK, mask, nullptr); }
    } restore{&previous};
    return std::thread(std::forward<Args>(args)...);
}
