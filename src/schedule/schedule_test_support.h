#pragma once

// Calls into the schedule modules outside a whole run: the table and offsets
// start empty, messages are captured, and an ending run is caught.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/log.h"
#include "platform/sim/sim_platform.h"
#include "process/exit.h"
#include "process/settings.h"
#include "process/state.h"
#include "schedule/admission.h"
#include "schedule/fdt.h"
#include "support/captured_stream.h"

class schedule_test : public testing::Test {
protected:
    void SetUp() override {
        current_platform = &sim_.services();
        settings = run_settings{};
        fdt_free();
        reset_offsets();
        out_stream = out_.file();
        err_stream = err_.file();
    }
    void TearDown() override {
        reset_log_state();
        fdt_free();
        current_platform = nullptr;
    }
    std::string out() { return out_.text(); }
    std::string err() { return err_.text(); }
    // The status the run would end with, or -1 when it goes on.
    template <typename F>
    int exit_status_of(F&& action) {
        try {
            action();
        } catch (const run_exit& exit) {
            return exit.code;
        }
        return -1;
    }
    // Frequencies and durations of the table, as text: "f/d" or "#text".
    std::string table() const {
        std::string text;
        char entry[64];
        for (uint32_t i = 0; i < num_fdt; ++i) {
            if (fdt[i].text != nullptr) {
                text += std::string("#") + fdt[i].text;
            } else {
                snprintf(entry, sizeof entry, "%.17g/%d ", fdt[i].frequency, fdt[i].duration);
                text += entry;
            }
        }
        return text;
    }

private:
    sim_platform sim_;
    tq_test::captured_stream out_;
    tq_test::captured_stream err_;
};
