#pragma once

#include <string>

#include "platform/control_channel.h"

// The control channel as a Unix socket of mode 0600; each client's user is
// read from the socket itself (SO_PEERCRED).

// Makes folder with mode 0700 unless it exists, then checks that it is a
// real folder (no link) of this user's with exactly that mode. The message
// (without the program's name) when it is not; empty when it is.
std::string make_private_folder(const std::string& folder);
