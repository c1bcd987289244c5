#pragma once

#include <memory>

#include "platform/sleep_inhibitor.h"

// An inhibitor lock of logind's, asked for over the system bus.
std::unique_ptr<sleep_inhibitor> make_logind_sleep_inhibitor();
