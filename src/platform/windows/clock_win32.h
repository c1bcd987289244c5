#pragma once

#include "platform/clock.h"

struct win32_clock final : clock_source {
    int64_t now_seconds() override;
    int64_t monotonic_ms() override;
    void sleep_ms(int ms) override;
    void wait(std::span<const wait_handle> handles, int ms) override;
};
