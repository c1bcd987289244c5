#include <cstdio>
#include <cstdlib>

#include "cli/run.h"
#include "platform/native.h"

int main(int argc, char** argv) {
    auto native = make_native_platform();
    const int status = run_tonquel(argc, argv, native->services());
    if (native->left_a_device_behind()) {
        // The run has closed its files and restored the terminal; the
        // library's clean-up at exit could wait for ever on the thread that
        // stopped answering, so the process leaves at once.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
