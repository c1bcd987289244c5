#pragma once

#include <windows.h>

#include <memory>

#include "platform/terminal_line.h"

// The bottom line of the console window that the standard handle writes
// to, drawn through the console's screen buffer.
std::unique_ptr<terminal_line> make_console_terminal_line(DWORD std_handle);
