#include "log/record_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

// A tone line cut short while it still waits is rewritten there (runs cover
// the one already in the file); a text of another length changes nothing.
TEST_F(record_file_test, a_marked_line_is_rewritten_where_it_waits) {
    const std::string tone = "  440, 180\n";
    record_write_marked(file_, state_, tone.data(), tone.size());
    record_rewrite_marked(file_, state_, "    440, 9");
    record_write_marked(file_, state_, tone.data(), tone.size());
    record_rewrite_marked(file_, state_, "  440, 1");
    flush_record(file_, state_);
    EXPECT_EQ(on_disk(), "    440, 9\n" + tone);
}

TEST_F(record_file_test, writes_are_gathered_and_reach_the_file_whole_when_flushed) {
    record_printf(file_, state_, "  %g, %d\n", 440.0, 3);
    record_printf(file_, state_, "%s", "#pause\n");
    EXPECT_EQ(on_disk(), "");
    flush_record(file_, state_);
    EXPECT_EQ(on_disk(), "  440, 3\n#pause\n");
    EXPECT_EQ(state_.intact_length, 16);
    // A line longer than the formatting's first try, whole.
    const std::string comment = "#" + std::string(8190, 'x') + "\n";
    record_printf(file_, state_, "%s", comment.c_str());
    sync_record(file_, state_);
    EXPECT_EQ(on_disk(), "  440, 3\n#pause\n" + comment);
    // A great many lines go out without waiting for a flush, whole lines only.
    for (int i = 0; i < 20000; ++i) record_printf(file_, state_, "  %d, 1\n", 1000 + i % 9000);
    const std::string part = on_disk();
    EXPECT_GT(part.size(), 16u + comment.size());
    EXPECT_EQ(part.back(), '\n');
    close_record(file_, state_);
    file_ = nullptr;
    EXPECT_EQ(on_disk().size(), 16u + comment.size() + 20000 * 10);
    EXPECT_FALSE(state_.failed);
    EXPECT_FALSE(record_incomplete);
    EXPECT_EQ(err(), "");
}

TEST_F(record_file_test, a_failed_write_is_cut_off_reported_once_and_ends_the_writes) {
    record_printf(file_, state_, "  440, 3\n");
    flush_record(file_, state_);
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
    flush_record(file_, out);
    std::fputs("  44", file_);
    std::fflush(file_);
    errno = ENOSPC;
    end_record_write(file_, out, false);
    EXPECT_EQ(on_disk(), "#Frequency, Duration\n  44");
    EXPECT_EQ(err(), report("standard output", ENOSPC));
}

}  // namespace
