#pragma once

#include <memory>

#include "platform/platform.h"

// The back ends of the system that the program is built for, owned together.
struct native_platform {
    virtual ~native_platform() = default;
    virtual platform& services() = 0;
    // True when a device thread stopped answering inside a library and was
    // left behind: it may hold locks that the normal exit would wait on.
    virtual bool left_a_device_behind() const { return false; }
};

std::unique_ptr<native_platform> make_native_platform();
