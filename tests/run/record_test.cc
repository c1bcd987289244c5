// Whole runs: the session file, the MOR file and standard output hold each
// line as soon as it is written, and a file that stops taking writes is
// reported once while the run plays on and ends with status 1.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/capture/capture.h"
#include "log/log.h"
#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

constexpr int64_t t0 = sim_platform::start_ms;
using tq_test::read_file;

std::string session_name() {
    auto names = tq_test::files_starting_with("session_");
    return names.size() == 1 ? names[0] : std::string();
}

// Replaces a file of the record, mid-run, by a stream of the same file that
// takes no writes, as a full disk would.
void make_unwritable(FILE*& file, const char* path) {
    std::fclose(file);
    file = std::fopen(path, "rb");
}

class record_run : public testing::Test {
protected:
    void SetUp() override {
        // The capture's signal is read when a tone's recording stops, just
        // before its block is written: the moment to look at the files.
        sim.audio.input_signal = [this](int64_t ms) {
            size_t tone = sim.audio.inputs.size();
            if (ms == sim.audio.inputs.back().started_ms && at_tone_end) at_tone_end(tone);
            return std::pair<int16_t, int16_t>{1, -1};
        };
    }

    int run(const std::vector<std::string>& args, FILE* out) {
        std::vector<std::string> storage{"tonquel"};
        storage.insert(storage.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : storage) argv.push_back(arg.data());
        argv.push_back(nullptr);
        return run_tonquel(static_cast<int>(storage.size()), argv.data(), sim.services(), out, err.file());
    }

    static std::string block(const char* frequency, int frames) {
        std::string lines;
        for (int i = 0; i < frames; ++i) lines += std::string(frequency) + " " + std::to_string(i) + " 1 -1\n";
        return lines;
    }

    tq_test::temp_dir dir;
    sim_platform sim;
    tq_test::captured_stream err;
    std::function<void(size_t tone)> at_tone_end;
};

const std::string header = "#Frequency, Duration\n";
const std::vector<std::string> three_tones = {"-r", "-m", "mor.txt", "440,2", "450,2", "460,2"};

TEST_F(record_run, every_line_is_in_its_file_when_the_write_returns) {
    std::string out_path = dir.path() + "/stdout.txt";
    FILE* out = std::fopen(out_path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::vector<std::string> seen;  // stdout, session, MOR at the end of each tone
    at_tone_end = [&](size_t) {
        seen.push_back(read_file(out_path));
        seen.push_back(read_file(session_name()));
        seen.push_back(read_file("mor.txt"));
    };
    int status = run(three_tones, out);
    std::fclose(out);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(err.text(), "");

    std::string announcement = "\n#Recording session in file: " + session_name() + "\n\n";
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_EQ(seen[0], announcement + header + "  440, 2\n");
    EXPECT_EQ(seen[1], header + "  440, 2\n");
    EXPECT_EQ(seen[2], "");
    EXPECT_EQ(seen[4], header + "  440, 2\n  450, 2\n");
    EXPECT_EQ(seen[5], block("440", 2000));
    EXPECT_EQ(seen[6], announcement + header + "  440, 2\n  450, 2\n  460, 2\n");
    EXPECT_EQ(seen[8], block("440", 2000) + block("450", 2000));
}

// Lines are handed to the files where the run is about to wait, not one by
// one: at every sleep of the run, each file holds every line written so far,
// each tone's line among them once its device is open, and standard error's
// messages stand in order among them where the two streams share a file.
TEST_F(record_run, every_line_is_in_its_files_whenever_the_run_waits) {
    struct watching_clock final : clock_source {
        sim_clock& inner;
        std::function<void()> before_sleep;
        watching_clock(sim_clock& clock, std::function<void()> look) : inner(clock), before_sleep(std::move(look)) {}
        int64_t now_seconds() override { return inner.now_seconds(); }
        int64_t monotonic_ms() override { return inner.monotonic_ms(); }
        void sleep_ms(int ms) override {
            before_sleep();
            inner.sleep_ms(ms);
        }
    };
    struct snapshot {
        int64_t at_ms;
        size_t tones_opened;
        std::string out;
        std::string session;
    };
    const std::string out_path = dir.path() + "/stdout.txt";
    FILE* out = std::fopen(out_path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::vector<snapshot> seen;
    watching_clock clock(sim.clock, [&] {
        seen.push_back({sim.now_ms(), sim.audio.outputs.size(), read_file(out_path), read_file(session_name())});
    });
    platform services{clock, sim.audio, sim.keys, sim.chooser, sim.status_line, sim.progress_line, sim.sound_writer};
    sim.keys.script = {{t0 + 500, '+'}, {t0 + 1200, 'p'}, {t0 + 1500, 'x'}, {t0 + 4000, 's'}};
    tq_test::command_line line({"-r", "440,2", "30000,1", "450,2"});
    // Standard error into the same file, as 2>&1 does.
    int status = run_tonquel(line.argc(), line.argv.data(), services, out, out);
    std::fclose(out);
    EXPECT_EQ(status, 0);

    const std::string name = session_name();
    const std::string warning = "tonquel: frequency 30000 > maximum of 20000: ignored\n";
    const std::string played =
        "  440, 2\n# added 441, 180\n#pause\n  441, 180\n#skip to next frequency in list\n  450, 2\n";
    EXPECT_EQ(read_file(name), header + "#" + warning + played);
    EXPECT_EQ(read_file(out_path), "\n#Recording session in file: " + name + "\n\n" + header + warning + played);
    ASSERT_GT(seen.size(), 40u);
    bool paused_seen = false;
    for (const snapshot& s : seen) {
        const std::string when = std::to_string(s.at_ms - t0) + " ms";
        ASSERT_EQ(s.out, "\n#Recording session in file: " + name + "\n\n" + header + warning +
                             s.session.substr(header.size() + 1 + warning.size()))
            << when;
        ASSERT_EQ(read_file(name).rfind(s.session, 0), 0u) << when;
        const std::vector<std::string> tone_lines = {"  440, 2\n", "  441, 180\n", "  450, 2\n"};
        for (size_t i = 0; i < tone_lines.size(); ++i)
            ASSERT_EQ(s.session.find(tone_lines[i]) != std::string::npos, i < s.tones_opened) << when << " " << i;
        if (s.at_ms >= t0 + 550) {
            ASSERT_NE(s.session.find("# added 441, 180\n"), std::string::npos) << when;
        }
        if (s.at_ms > t0 + 1200 && s.at_ms < t0 + 1500) {
            paused_seen = true;
            ASSERT_NE(s.session.find("#pause\n"), std::string::npos) << when;
        }
    }
    EXPECT_TRUE(paused_seen);
    EXPECT_EQ(sim.audio.outputs.size(), 3u);
}

TEST_F(record_run, standard_output_that_fails_is_reported_once_and_the_run_plays_on) {
    std::string out_path = dir.path() + "/stdout.txt";
    tq_test::write_file(out_path, "");
    FILE* out = std::fopen(out_path.c_str(), "rb");  // takes no writes
    ASSERT_NE(out, nullptr);
    int status = run(three_tones, out);
    std::fclose(out);
    EXPECT_EQ(status, 1);
    std::string errors = err.text();
    EXPECT_EQ(errors.rfind("tonquel: standard output: ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(sim.audio.outputs.size(), 3u);
    EXPECT_EQ(read_file(session_name()), header + "  440, 2\n  450, 2\n  460, 2\n");
    EXPECT_EQ(read_file("mor.txt"), block("440", 2000) + block("450", 2000) + block("460", 2000));
}

TEST_F(record_run, session_file_that_fails_keeps_what_it_had_and_quitting_ends_with_1) {
    at_tone_end = [&](size_t tone) {
        if (tone == 2) make_unwritable(session_file, session_path);
    };
    // q during the third tone, which would end the run with 0.
    sim.keys.script = {{t0 + 7500, 'q'}};
    tq_test::captured_stream out;
    int status = run(three_tones, out.file());
    EXPECT_EQ(status, 1);
    std::string name = session_name();
    std::string errors = err.text();
    EXPECT_EQ(errors.rfind("tonquel: " + name + ": ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(read_file(name), header + "  440, 2\n  450, 2\n");
    EXPECT_EQ(out.text(), "\n#Recording session in file: " + name + "\n\n" + header + "  440, 2\n  450, 2\n  460, 2\n");
    EXPECT_EQ(sim.audio.outputs.size(), 3u);
    EXPECT_EQ(read_file("mor.txt"), block("440", 2000) + block("450", 2000));
}

TEST_F(record_run, a_failure_on_a_terminal_takes_the_status_line_away_before_it_is_reported) {
    at_tone_end = [&](size_t tone) {
        if (tone == 1) make_unwritable(mor_file, mor_path);
    };
    sim.status_line.is_terminal = true;
    tq_test::terminal_output r = tq_test::run_on_terminal(sim, {"-m", "mor.txt", "440,2", "450,2"});
    EXPECT_EQ(r.status, 1);
    const size_t report = r.screen.find("tonquel: mor.txt: ");
    ASSERT_NE(report, std::string::npos) << r.screen;
    const size_t erased = r.screen.rfind("<erase>", report);
    ASSERT_NE(erased, std::string::npos) << r.screen;
    EXPECT_EQ(r.screen.find("<show", erased), r.screen.find("<show", report)) << r.screen;
    EXPECT_EQ(r.screen.substr(erased, report - erased), "<erase>") << r.screen;
}

TEST_F(record_run, mor_file_that_fails_keeps_its_whole_blocks_while_capture_goes_on) {
    at_tone_end = [&](size_t tone) {
        if (tone == 2) make_unwritable(mor_file, mor_path);
    };
    tq_test::captured_stream out;
    int status = run({"-m", "mor.txt", "440,2", "450,2", "460,2"}, out.file());
    EXPECT_EQ(status, 1);
    std::string errors = err.text();
    EXPECT_EQ(errors.rfind("tonquel: mor.txt: ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(out.text(), header + "  440, 2\n  450, 2\n  460, 2\n");
    EXPECT_EQ(read_file("mor.txt"), block("440", 2000));
    EXPECT_EQ(sim.audio.inputs.size(), 3u);
    EXPECT_EQ(sim.audio.outputs.size(), 3u);
    EXPECT_EQ(sim.audio.open_input_devices, 0);
}

}  // namespace
