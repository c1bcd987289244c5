#pragma once

#include <string>

#include "platform/control_channel.h"

// The control channel as a named pipe that only the current user may open
// and that refuses clients on other machines.

// \\.\pipe\NAME for a plain name; a full pipe name stays as it is.
std::string pipe_address(const std::string& name);
