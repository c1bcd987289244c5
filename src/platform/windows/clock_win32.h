#pragma once

#include "platform/clock.h"

struct win32_clock final : clock_source {
    int64_t now_seconds() override;
    void sleep_ms(int ms) override;
};
