#pragma once

// Calls into the schedule modules outside a whole run: the table and offsets
// start empty, messages are captured, and an ending run is caught.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/exit.h"
#include "cli/run.h"
#include "cli/settings.h"
#include "log/log.h"
#include "platform/sim/sim_platform.h"
#include "schedule/admission.h"
#include "schedule/fdt.h"

class schedule_test : public testing::Test {
protected:
    void SetUp() override {
        current_platform = &sim_.services();
        settings = run_settings{};
        fdt_free();
        reset_offsets();
        out_ = open_memstream(&out_text_, &out_size_);
        err_ = open_memstream(&err_text_, &err_size_);
        out_stream = out_;
        err_stream = err_;
    }
    void TearDown() override {
        reset_log_state();
        fclose(out_);
        fclose(err_);
        free(out_text_);
        free(err_text_);
        fdt_free();
        current_platform = nullptr;
    }
    std::string out() {
        fflush(out_);
        return std::string(out_text_, out_size_);
    }
    std::string err() {
        fflush(err_);
        return std::string(err_text_, err_size_);
    }
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
    FILE* out_ = nullptr;
    FILE* err_ = nullptr;
    char* out_text_ = nullptr;
    char* err_text_ = nullptr;
    size_t out_size_ = 0;
    size_t err_size_ = 0;
};
