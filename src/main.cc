#include "cli/run.h"
#include "platform/native.h"

int main(int argc, char** argv) {
    auto native = make_native_platform();
    return run_tonquel(argc, argv, native->services());
}
