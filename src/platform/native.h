#pragma once

#include <memory>

#include "platform/platform.h"

// The back ends of the system that the program is built for, owned together.
struct native_platform {
    virtual ~native_platform() = default;
    virtual platform& services() = 0;
};

std::unique_ptr<native_platform> make_native_platform();
