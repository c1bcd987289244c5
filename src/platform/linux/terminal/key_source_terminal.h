#pragma once

#include <memory>

#include "platform/key_source.h"

// Keys from standard input when it is a terminal in the foreground; no keys
// otherwise.
std::unique_ptr<key_source> make_terminal_key_source();
