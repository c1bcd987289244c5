#include "log/record_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/exit.h"
#include "log/log.h"
#include "support/captured_stream.h"
#include "support/run_harness.h"

namespace {

// A file of the record on disk, read back through a handle of its own, so
// that only what reached the file counts.
class record_file_test : public testing::Test {
protected:
    void SetUp() override {
        reset_log_state();
        err_stream = err_.file();
        file_ = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file_, nullptr);
    }
    void TearDown() override {
        if (file_ != nullptr) std::fclose(file_);
        std::remove(path_.c_str());
        reset_log_state();
    }
    std::string on_disk() const { return tq_test::read_file(path_); }
    std::string err() const { return err_.text(); }
    static std::string report(const char* name, int error) {
        return std::string("tonquel: ") + name + ": " + std::strerror(error) + "\n";
    }

    std::string path_ = tq_test::unique_temp_path("tonquel-record").string();
    FILE* file_ = nullptr;
    record_state state_{"rec.txt", true};
    tq_test::captured_stream err_;
};

TEST_F(record_file_test, each_write_is_in_the_file_when_it_returns) {
    record_printf(file_, state_, "  %g, %d\n", 440.0, 3);
    EXPECT_EQ(on_disk(), "  440, 3\n");
    record_printf(file_, state_, "%s", "#pause\n");
    EXPECT_EQ(on_disk(), "  440, 3\n#pause\n");
    EXPECT_EQ(state_.intact_length, 16);
    sync_record(file_, state_);
    EXPECT_FALSE(state_.failed);
    EXPECT_FALSE(record_incomplete);
    EXPECT_EQ(err(), "");
}

TEST_F(record_file_test, a_failed_write_is_cut_off_reported_once_and_ends_the_writes) {
    record_printf(file_, state_, "  440, 3\n");
    // What a write that ran out of space left in the file before it failed.
    std::fputs("  45", file_);
    std::fflush(file_);
    errno = ENOSPC;
    end_record_write(file_, state_, false);
    EXPECT_EQ(on_disk(), "  440, 3\n");
    EXPECT_EQ(err(), report("rec.txt", ENOSPC));
    EXPECT_TRUE(state_.failed);
    EXPECT_TRUE(record_incomplete);

    record_printf(file_, state_, "  460, 3\n");
    sync_record(file_, state_);
    EXPECT_EQ(on_disk(), "  440, 3\n");
    EXPECT_EQ(err(), report("rec.txt", ENOSPC));
}

TEST_F(record_file_test, a_stream_that_takes_no_writes_is_reported_with_the_system_text) {
    std::fclose(file_);
    file_ = std::fopen(path_.c_str(), "rb");
    ASSERT_NE(file_, nullptr);
    record_printf(file_, state_, "  440, 3\n");
    ASSERT_TRUE(state_.failed);
    EXPECT_EQ(err().rfind("tonquel: rec.txt: ", 0), 0u) << err();
    EXPECT_EQ(err().back(), '\n');
    EXPECT_NE(err(), "tonquel: rec.txt: \n");
    EXPECT_TRUE(record_incomplete);
}

TEST_F(record_file_test, a_reader_that_went_away_only_stops_the_writes) {
    record_state out{"standard output", false};
    errno = EPIPE;
    end_record_write(file_, out, false);
    EXPECT_TRUE(out.failed);
    EXPECT_FALSE(record_incomplete);
    EXPECT_EQ(err(), "");
}

TEST_F(record_file_test, standard_output_is_never_cut_back) {
    record_state out{"standard output", false};
    record_printf(file_, out, "#Frequency, Duration\n");
    std::fputs("  44", file_);
    std::fflush(file_);
    errno = ENOSPC;
    end_record_write(file_, out, false);
    EXPECT_EQ(on_disk(), "#Frequency, Duration\n  44");
    EXPECT_EQ(err(), report("standard output", ENOSPC));
}

// The channels and the exit: the session file fails, standard output goes
// on, and the run that would have ended with 0 ends with 1.
TEST_F(record_file_test, channels_drop_a_failed_session_file_and_the_exit_says_so) {
    tq_test::captured_stream out;
    out_stream = out.file();
    std::fclose(file_);
    file_ = nullptr;
    session_file = std::fopen(path_.c_str(), "rb");  // takes no writes
    ASSERT_NE(session_file, nullptr);
    std::strcpy(session_path, "session_x");

    log_out("#Frequency, Duration\n");
    log_err("%s: warning\n", program_name);
    log_out("  440, 3\n");
    EXPECT_EQ(out.text(), "#Frequency, Duration\n  440, 3\n");
    std::string errors = err();
    EXPECT_EQ(errors.rfind("tonquel: session_x: ", 0), 0u) << errors;
    EXPECT_EQ(errors.substr(errors.find('\n') + 1), "tonquel: warning\n");

    int status = -1;
    try {
        cleanup_and_exit(0);
    } catch (const run_exit& exit) {
        status = exit.code;
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(session_file, nullptr);
    try {
        cleanup_and_exit(2);
    } catch (const run_exit& exit) {
        status = exit.code;
    }
    EXPECT_EQ(status, 2);  // a usage error stays one
}

}  // namespace
