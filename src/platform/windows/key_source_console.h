#pragma once

#include <memory>

#include "platform/key_source.h"

// Keys from the console's input records. Standard input that is not a
// console (a file, a pipe) gives no keys.
std::unique_ptr<key_source> make_console_key_source();
