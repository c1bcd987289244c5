// Whole runs on a simulated terminal: the status line is taken away before
// every line the run prints and drawn again after it, follows the tone, the
// keys and the width, and is gone after every way out.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

constexpr int64_t t0 = sim_platform::start_ms;

using tq_test::run_on_terminal;

// What the scrollback keeps: the screen without the line's marks.
std::string printed(const std::string& screen) {
    std::string text;
    for (size_t i = 0; i < screen.size();) {
        if (screen[i] == '<') {
            size_t end = screen.find('>', i);
            if (end != std::string::npos) {
                i = end + 1;
                continue;
            }
        }
        text += screen[i++];
    }
    return text;
}

// Nothing is printed while a line is shown, and none is left at the end.
void expect_taken_away_before_every_print(const std::string& screen) {
    bool shown = false;
    for (size_t i = 0; i < screen.size();) {
        if (screen.compare(i, 6, "<show ") == 0) {
            shown = true;
            i = screen.find('>', i) + 1;
        } else if (screen.compare(i, 7, "<erase>") == 0 || screen.compare(i, 9, "<stopped>") == 0) {
            shown = false;
            i = screen.find('>', i) + 1;
        } else {
            ASSERT_FALSE(shown) << "printed over the line at " << i << " of:\n" << screen;
            ++i;
        }
    }
    EXPECT_FALSE(shown) << "line left at the end of:\n" << screen;
}

std::vector<std::string> shown_texts(const sim_terminal_line& line) {
    std::vector<std::string> texts;
    for (const sim_line_event& event : line.events)
        if (event.shown) texts.push_back(event.text);
    return texts;
}

bool any_shown(const sim_terminal_line& line, const std::string& text) {
    for (const std::string& shown : shown_texts(line))
        if (shown == text) return true;
    return false;
}

TEST(status_line_run, terminal_keeps_exactly_the_lines_a_redirected_run_prints) {
    const std::vector<sim_key> keys = {{t0 + 1200, '+'}, {t0 + 1500, 'p'}, {t0 + 2600, 'x'}, {t0 + 3100, 'n'}};
    sim_platform redirected;
    redirected.keys.script = keys;
    redirected.audio.record_samples = false;
    const std::string expected = run_on_terminal(redirected, {"440,3", "550,2"}).screen;
    EXPECT_TRUE(redirected.status_line.events.empty());

    sim_platform sim;
    sim.keys.script = keys;
    sim.audio.record_samples = false;
    sim.status_line.is_terminal = true;
    tq_test::terminal_output r = run_on_terminal(sim, {"440,3", "550,2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(printed(r.screen), expected);
    expect_taken_away_before_every_print(r.screen);
    // What it told on the way: the first tone, its pause, then the added
    // tones' share of the time left.
    EXPECT_TRUE(any_shown(sim.status_line, "440 Hz  0:00 / 0:03  tone 1 of 2  0:05 left  keys: + - n N s b p q"));
    EXPECT_TRUE(any_shown(sim.status_line,
                          "440 Hz  0:01 / 0:03  paused  tone 1 of 3  3:04 left  keys: + - n N s b p q"));
    EXPECT_TRUE(any_shown(sim.status_line, "440 Hz  0:02 / 0:03  tone 1 of 9  21:03 left  keys: + - n N s b p q"));
    EXPECT_TRUE(any_shown(sim.status_line, "437 Hz  0:01 / 3:00  tone 2 of 9  21:01 left  keys: + - n N s b p q"));
}

TEST(status_line_run, redraws_on_poll_steps_at_most_four_times_a_second) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.status_line.is_terminal = true;
    sim.keys.script = {{t0 + 700, 'p'}, {t0 + 1900, 'x'}};
    run_on_terminal(sim, {"440,4"});
    int64_t last = INT64_MIN / 2;
    int draws = 0;
    for (const sim_line_event& event : sim.status_line.events) {
        if (!event.shown) continue;
        EXPECT_GE(event.at_ms - last, 250) << event.text;
        last = event.at_ms;
        ++draws;
    }
    // Once a second as the clock moves, and for the pause and its end.
    EXPECT_GE(draws, 6);
    EXPECT_LE(draws, 12);
}

TEST(status_line_run, fits_the_width_and_follows_a_resize) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.status_line.is_terminal = true;
    sim.status_line.columns = 40;
    sim.status_line.resizes = {{t0 + 1500, 24}, {t0 + 2500, 120}};
    run_on_terminal(sim, {"1000,3"});
    for (const sim_line_event& event : sim.status_line.events) {
        if (!event.shown) continue;
        const size_t width = event.at_ms < t0 + 1500 ? 40 : event.at_ms < t0 + 2500 ? 24 : 120;
        EXPECT_LT(event.text.size(), width) << event.text;
    }
    EXPECT_TRUE(any_shown(sim.status_line, "1000 Hz  0:00 / 0:03  0:03 left"));
    EXPECT_TRUE(any_shown(sim.status_line, "1000 Hz  0:01 / 0:03"));
    EXPECT_TRUE(any_shown(sim.status_line, "1000 Hz  0:02 / 0:03  tone 1 of 1  0:01 left  keys: + - n N s b p q"));
}

TEST(status_line_run, every_way_out_leaves_no_line) {
    struct way_out {
        const char* name;
        std::vector<sim_key> keys;
        int signal_number;
        int failing_write;
        int status;
    };
    const way_out ways[] = {
        {"end", {}, 0, 0, 0},
        {"q", {{t0 + 1600, 'q'}}, 0, 0, 0},
        {"q while paused", {{t0 + 1300, 'p'}, {t0 + 1600, 'q'}}, 0, 0, 0},
        {"Ctrl-C", {}, SIGINT, 0, 0},
        {"SIGTERM", {}, SIGTERM, 0, 0},
#ifdef SIGHUP
        {"SIGHUP", {}, SIGHUP, 0, 0},
#endif
        {"device error", {}, 0, 3, 1},
    };
    for (const way_out& way : ways) {
        sim_platform sim;
        sim.audio.record_samples = false;
        sim.status_line.is_terminal = true;
        sim.keys.script = way.keys;
        sim.audio.fail_write_number = way.failing_write;
        sim.audio.fail_write_code = 5;
        if (way.signal_number != 0) sim.raise_signal_at(t0 + 1600, way.signal_number);
        tq_test::terminal_output r = run_on_terminal(sim, {"440,2", "550,2"});
        EXPECT_EQ(r.status, way.status) << way.name;
        ASSERT_FALSE(shown_texts(sim.status_line).empty()) << way.name;
        expect_taken_away_before_every_print(r.screen);
        EXPECT_FALSE(sim.status_line.showing()) << way.name;
    }
}

TEST(status_line_run, comes_back_after_the_job_is_stopped) {
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.status_line.is_terminal = true;
    sim.status_line.stops = {t0 + 1330};
    run_on_terminal(sim, {"440,3"});
    bool stopped = false;
    int64_t redrawn = -1;
    for (const sim_line_event& event : sim.status_line.events) {
        if (event.text == "stopped") stopped = true;
        else if (stopped && event.shown && redrawn < 0) redrawn = event.at_ms;
    }
    ASSERT_TRUE(stopped);
    EXPECT_GE(redrawn, t0 + 1330);
    EXPECT_LE(redrawn, t0 + 1330 + 300);
}

TEST(status_line_run, counts_tone_entries_only_and_follows_the_split_tail_and_the_back_key) {
    tq_test::temp_dir dir;
    tq_test::write_file("tones.txt", "# warm up\n300,2\n# main\n400,5\n500,1\n");
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.status_line.is_terminal = true;
    sim.status_line.columns = 200;
    // Back in the pulsed tail of 400 Hz: its steady part has gone by.
    sim.keys.script = {{t0 + 6200, 'b'}};
    tq_test::terminal_output r = run_on_terminal(sim, {"-p", "10,2", "-f", "tones.txt"});
    EXPECT_EQ(r.status, 0);
    expect_taken_away_before_every_print(r.screen);
    EXPECT_TRUE(any_shown(sim.status_line, "300 Hz  0:00 / 0:02  tone 1 of 3  0:08 left  keys: + - n N s b p q"));
    EXPECT_TRUE(any_shown(sim.status_line, "400 Hz  0:01 / 0:05  tone 2 of 3  0:05 left  keys: + - n N s b p q"));
    EXPECT_TRUE(any_shown(sim.status_line, "400 Hz  0:03 / 0:05  tone 2 of 3  0:03 left  keys: + - n N s b p q"));
    // After b: 300 Hz again, and everything from it on is left.
    EXPECT_TRUE(any_shown(sim.status_line, "300 Hz  0:01 / 0:02  tone 1 of 3  0:07 left  keys: + - n N s b p q"));
}

}  // namespace
