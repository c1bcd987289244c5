#pragma once

#include <memory>

#include "platform/sleep_inhibitor.h"

// The main thread's execution state: the system stays awake while it is set.
std::unique_ptr<sleep_inhibitor> make_win32_sleep_inhibitor();
