// Whole runs controlled from outside (--control) on the simulated platform:
// the clients talk to the run on this system's real socket (a named pipe on
// Windows) at scripted moments of virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "platform/sim/sim_platform.h"
#include "support/run_harness.h"

namespace {

using tq_test::run;
using tq_test::run_output;
constexpr int64_t t0 = sim_platform::start_ms;

// A place of its own for each run, so that test programs running side by
// side never meet (pipe names are machine-wide).
std::string unique_name() {
    return "tonquel-test-" + std::to_string(std::random_device{}());
}

struct test_client {
    std::unique_ptr<control_connection> connection;
    std::string unsent;
    std::string received;
    bool hung_up = false;

    void connect(sim_platform& sim, const std::string& name) {
        control_reach reach = sim.control->connect(sim.control->named_address(name), false);
        connection = std::move(reach.connection);
        ASSERT_TRUE(connection) << reach.error;
    }
    // What the channel does not take yet goes with the next send.
    void send(const std::string& line) {
        if (!connection) return;  // the failure is reported already
        unsent += line;
        while (!unsent.empty()) {
            const long taken = connection->send(unsent.data(), unsent.size());
            if (taken < 0) hung_up = true;
            if (taken <= 0) return;
            unsent.erase(0, static_cast<size_t>(taken));
        }
    }
    void read() {
        char buffer[65536];
        long got = 0;
        while (connection && (got = connection->receive(buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<size_t>(got));
        hung_up = hung_up || got < 0;
    }
};

std::string request(const std::string& command, int id = 1) {
    return "{\"command\": " + command + ", \"request_id\": " + std::to_string(id) + "}\n";
}

const std::string success = "{\"request_id\":1,\"error\":\"success\"}\n";

TEST(control_run, each_command_does_what_its_key_does) {
    struct command_case {
        std::vector<sim_key> keys;
        std::vector<std::pair<int64_t, std::string>> commands;
    };
    const command_case cases[] = {
        {{{t0 + 500, 's'}}, {{t0 + 500, R"(["skip"])"}}},
        {{{t0 + 2500, 'b'}}, {{t0 + 2500, R"(["back"])"}}},
        {{{t0 + 500, '+'}, {t0 + 600, '-'}}, {{t0 + 500, R"(["add", 1])"}, {t0 + 600, R"(["add", -1])"}}},
        {{{t0 + 500, 'n'}}, {{t0 + 500, R"(["nearby", "coarse"])"}}},
        {{{t0 + 500, 'N'}}, {{t0 + 500, R"(["nearby", "fine"])"}}},
        {{{t0 + 500, 'p'}, {t0 + 4500, 'x'}}, {{t0 + 500, R"(["pause"])"}, {t0 + 4500, R"(["resume"])"}}},
        {{{t0 + 500, 'p'}, {t0 + 900, 'p'}}, {{t0 + 500, R"(["toggle"])"}, {t0 + 900, R"(["toggle"])"}}},
        {{{t0 + 1200, 'q'}}, {{t0 + 1200, R"(["quit"])"}}},
    };
    for (const command_case& test : cases) {
        tq_test::temp_dir dir;
        sim_platform by_key;
        by_key.audio.record_samples = false;
        by_key.keys.script = test.keys;
        const run_output keyed = run(by_key, {"-r", "440,2", "550,2"});
        const std::string keyed_session = tq_test::read_file(tq_test::files_starting_with("session_")[0]);
        std::filesystem::remove(tq_test::files_starting_with("session_")[0]);

        sim_platform sim;
        sim.audio.record_samples = false;
        const std::string name = unique_name();
        test_client client;
        sim.at(t0 + 100, [&] { client.connect(sim, name); });
        for (const auto& [at, command] : test.commands) sim.at(at, [&, command] { client.send(request(command)); });
        const run_output commanded = run(sim, {"--control=" + name, "-r", "440,2", "550,2"});
        client.read();
        const std::string label = test.commands[0].second;
        EXPECT_EQ(commanded.status, keyed.status) << label;
        EXPECT_EQ(commanded.out, keyed.out) << label;
        EXPECT_EQ(tq_test::read_file(tq_test::files_starting_with("session_")[0]), keyed_session) << label;
        EXPECT_EQ(sim.audio.outputs.size(), by_key.audio.outputs.size()) << label;
        EXPECT_EQ(sim.now_ms(), by_key.now_ms()) << label;
        std::string replies;
        for (size_t i = 0; i < test.commands.size(); ++i) replies += success;
        EXPECT_EQ(client.received, replies) << label;
    }
}

TEST(control_run, status_and_schedule_while_playing_paused_and_waiting_for_the_device) {
    tq_test::temp_dir dir;
    tq_test::write_file("tones.txt", "440,2\n# then higher\n550,3\n");
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.audio.outage = {t0 + 3000, t0 + 4600, 5};
    const std::string name = unique_name();
    test_client client;
    sim.at(t0 + 100, [&] { client.connect(sim, name); });
    sim.at(t0 + 1000, [&] { client.send(request(R"(["status"])")); });
    sim.at(t0 + 1500, [&] { client.send(request(R"(["pause"])", 3)); });
    sim.at(t0 + 1600, [&] { client.send(request(R"(["status"])", 4) + request(R"(["resume"])", 5)); });
    sim.at(t0 + 3500, [&] { client.send(request(R"(["status"])", 6) + request(R"(["schedule"])", 7)); });
    const run_output r = run(sim, {"--control=" + name, "--wait-for-device=5", "-f", "tones.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    client.read();
    const std::string status_tail = R"(,"entries":2,"left":)";
    const std::string one_pass = R"(,"pass":1,"passes":1,"version":"1.13"}})" "\n";
    EXPECT_EQ(client.received,
              R"({"request_id":1,"error":"success","data":{"state":"playing","frequency":440,"duration":2,)"
              R"("elapsed":1,"index":1)" + status_tail + "4" + one_pass +
              R"({"request_id":3,"error":"success"})" "\n"
              R"({"request_id":4,"error":"success","data":{"state":"paused","frequency":440,"duration":2,)"
              R"("elapsed":1,"index":1)" + status_tail + "4" + one_pass +
              R"({"request_id":5,"error":"success"})" "\n"
              R"({"request_id":6,"error":"success","data":{"state":"waiting for device","frequency":550,)"
              R"("duration":3,"elapsed":0,"index":2)" + status_tail + "3" + one_pass +
              R"({"request_id":7,"error":"success","data":[{"frequency":550,"duration":3}]})" "\n");
}

// status counted one pass only and knew nothing of --until: --loop=3 with
// 13 s to go said 3, a stop 16 s away among 60 s said 58.
TEST(control_run, status_counts_the_passes_to_come_up_to_the_stop_time) {
    const struct {
        std::vector<std::string> args;
        int64_t at_ms;
        std::string tail;  // of the status, from "left" on
    } cases[] = {
        {{"--loop=3", "440,5"}, t0 + 2500, R"("left":13,"pass":1,"passes":3,"version":"1.13"})"},
        {{"--loop=3", "--smooth", "440,5"}, t0 + 7500, R"("left":8,"pass":2,"passes":3,"version":"1.13"})"},
        {{"--until=22:13:38", "440,60"}, t0 + 2500,
         R"("left":16,"pass":1,"passes":1,"version":"1.13","stops_at":"22:13:38"})"},
        {{"--loop", "440,5"}, t0 + 7500, R"("left":null,"pass":2,"passes":null,"version":"1.13"})"},
        {{"--loop", "--until=22:13:40", "440,5"}, t0 + 7500,
         R"("left":13,"pass":2,"passes":null,"version":"1.13","stops_at":"22:13:40"})"},
        // While --at waits, the window is what is left at most.
        {{"--at=22:13:30", "--until=22:13:40", "--loop", "440,5"}, t0 + 2500,
         R"("left":10,"pass":1,"passes":null,"version":"1.13","stops_at":"22:13:40","starts_at":"22:13:30",)"
         R"("starts_in":8})"},
    };
    for (const auto& c : cases) {
        sim_platform sim;
        sim.audio.record_samples = false;
        const std::string name = unique_name();
        test_client client;
        sim.at(t0 + 100, [&] { client.connect(sim, name); });
        sim.at(c.at_ms, [&] { client.send(request(R"(["status"])")); });
        sim.at(c.at_ms + 200, [&] { client.send(request(R"(["quit"])", 2)); });
        std::vector<std::string> args = {"--control=" + name};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run(sim, args).status, 0) << c.tail;
        client.read();
        const size_t line_end = client.received.find('\n');
        ASSERT_NE(line_end, std::string::npos) << c.tail;
        EXPECT_TRUE(client.received.substr(0, line_end).ends_with(c.tail + "}")) << client.received;
    }
}

TEST(control_run, observers_hear_each_event_and_how_the_run_ended) {
    tq_test::temp_dir dir;
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.audio.outage = {t0 + 1500, t0 + 2600, 5};
    const std::string name = unique_name();
    test_client observer;
    test_client other;  // hears nothing it did not ask for
    sim.at(t0 + 100, [&] {
        observer.connect(sim, name);
        other.connect(sim, name);
        observer.send(request(R"(["observe"])"));
    });
    sim.at(t0 + 4200, [&] { other.send(request(R"(["pause"])")); });
    sim.at(t0 + 4400, [&] { other.send(request(R"(["resume"])")); });
    sim.raise_signal_at(t0 + 9500, SIGINT);
    const run_output r = run(sim, {"--control=" + name, "--wait-for-device=5", "440,3", "550,1", "660,9"});
    EXPECT_EQ(r.status, 0) << r.err;
    observer.read();
    other.read();
    // The first tone started before the client asked; the device, open
    // again at 3.5 s, is back once it has played, after the pause.
    EXPECT_EQ(observer.received, success +
                                     "{\"event\":\"device-lost\"}\n"
                                     "{\"event\":\"pause\"}\n{\"event\":\"resume\"}\n{\"event\":\"device-back\"}\n"
                                     "{\"event\":\"tone-start\",\"frequency\":550,\"duration\":1,\"index\":2}\n"
                                     "{\"event\":\"tone-start\",\"frequency\":660,\"duration\":9,\"index\":3}\n"
                                     "{\"event\":\"end\",\"status\":0}\n");
    EXPECT_TRUE(observer.hung_up);
    EXPECT_EQ(other.received, success + success);
}

TEST(control_run, bad_input_is_answered_and_never_stops_the_run) {
    tq_test::temp_dir dir;
    sim_platform sim;
    sim.audio.record_samples = false;
    const std::string name = unique_name();
    test_client talker;     // bad lines, then a good one: still answered
    test_client long_line;  // one line over 64 KiB: told, then closed
    test_client flooder;    // asks and never reads: dropped at 1 MiB
    std::vector<test_client> crowd(16);
    sim.at(t0 + 100, [&] {
        talker.connect(sim, name);
        long_line.connect(sim, name);
        flooder.connect(sim, name);
    });
    sim.at(t0 + 200, [&] {
        talker.send("skip\n\r\n" + request(R"(["jump"])", 9) + request(R"(["status"])", 10));
        long_line.send(std::string(64 * 1024 + 1, ' '));  // a pipe takes it in parts
        // The 17th client of the run, counting the three above.
        for (test_client& client : crowd) client.connect(sim, name);
    });
    for (int64_t at = t0 + 300; at < t0 + 2000; at += 50)
        sim.at(at, [&] {
            long_line.send("");
            for (int i = 0; i < 8; ++i) flooder.send(request(R"(["schedule"])"));
        });
    sim.raise_signal_at(t0 + 5000, SIGINT);
    const run_output r = run(sim, {"--control=" + name, "-s", "100,2100,1,1"});
    EXPECT_EQ(r.status, 0);
    talker.read();
    EXPECT_EQ(talker.received.rfind("{\"error\":\"not JSON: ", 0), 0u);
    EXPECT_NE(talker.received.find("\n{\"request_id\":9,\"error\":\"unknown command \\\"jump\\\"\"}\n"
                                   "{\"request_id\":10,\"error\":\"success\",\"data\":"),
              std::string::npos);
    long_line.read();
    EXPECT_EQ(long_line.received, "{\"error\":\"line longer than 64 KiB\"}\n");
    EXPECT_TRUE(long_line.hung_up);
    size_t told = 0;
    for (test_client& client : crowd) {
        client.read();
        if (client.received == "{\"error\":\"too many clients: at most 16 at once\"}\n" && client.hung_up) ++told;
    }
    EXPECT_EQ(told, 3u);
    flooder.read();
    EXPECT_TRUE(flooder.hung_up);
    EXPECT_LT(flooder.received.size(), size_t{3} * 1024 * 1024);
    // The sound went on, every tone whole, until Ctrl-C.
    ASSERT_GE(sim.audio.outputs.size(), 3u);
    for (size_t i = 0; i + 1 < sim.audio.outputs.size(); ++i) EXPECT_GE(sim.audio.outputs[i].frames_played, 44100u);
}

// A key ends a pause, whatever it is; a command means what it says: quit
// ends the run (it used to be passed on as the key q, which only resumed),
// pause keeps a pause (it used to resume it), resume while playing does
// nothing. Both players.
TEST(control_run, quit_ends_a_paused_run_and_pause_and_resume_say_what_they_mean) {
    struct pause_case {
        const char* what;
        std::vector<std::pair<int64_t, std::string>> commands;
        std::vector<sim_key> keys;
        int pauses;      // "#pause" lines
        int64_t end_ms;  // about when the run ends, after t0 (the classic
                         // player ends a tone on the second after its last)
        int64_t classic_end_ms;
    };
    const pause_case cases[] = {
        {"quit while paused", {{500, R"(["pause"])"}, {900, R"(["quit"])"}}, {}, 1, 900, 900},
        {"pause while paused", {{500, R"(["pause"])"}, {900, R"(["pause"])"}, {1400, R"(["quit"])"}}, {}, 1, 1400, 1400},
        {"resume while playing", {{500, R"(["resume"])"}}, {}, 0, 2000, 3000},
        {"the q key while paused resumes", {{500, R"(["pause"])"}}, {{t0 + 1500, 'q'}}, 1, 3000, 4000},
    };
    for (const bool smooth : {false, true}) {
        for (const pause_case& test : cases) {
            const std::string label = std::string(test.what) + (smooth ? " (smooth)" : "");
            sim_platform sim;
            sim.audio.record_samples = false;
            sim.keys.script = test.keys;
            const std::string name = unique_name();
            test_client client;
            sim.at(t0 + 100, [&] { client.connect(sim, name); });
            for (const auto& [at, command] : test.commands)
                sim.at(t0 + at, [&, command] { client.send(request(command)); });
            std::vector<std::string> args{"--control=" + name, "440,2"};
            if (smooth) args.insert(args.begin(), "--smooth");
            const run_output r = run(sim, args);
            client.read();
            EXPECT_EQ(r.status, 0) << label;
            std::string replies;
            for (size_t i = 0; i < test.commands.size(); ++i) replies += success;
            EXPECT_EQ(client.received, replies) << label;
            size_t pauses = 0;
            for (size_t at = r.out.find("#pause"); at != std::string::npos; at = r.out.find("#pause", at + 1)) ++pauses;
            EXPECT_EQ(pauses, size_t(test.pauses)) << label;
            const int64_t end_ms = smooth ? test.end_ms : test.classic_end_ms;
            // The smooth player's pause begins and ends on its 30-ms blocks.
            EXPECT_GE(sim.now_ms(), t0 + end_ms - (smooth ? 30 : 0)) << label;
            EXPECT_LT(sim.now_ms(), t0 + end_ms + 250) << label;
        }
    }
}

// While --at waits, what acts on a playing tone acted on nothing and said
// "success" (a key said nothing at all): now each says that it waits for
// the start, status tells when that is, and quit still ends the wait.
TEST(control_run, the_wait_to_start_says_what_waits_for_the_start_and_when_it_comes) {
    tq_test::temp_dir dir;
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 3000, 's'}, {t0 + 3100, '+'}, {t0 + 3200, 'p'}, {t0 + 3300, 'x'}, {t0 + 3400, 'N'}};
    const std::string name = unique_name();
    test_client client;
    sim.at(t0 + 100, [&] { client.connect(sim, name); });
    const char* commands[] = {R"(["skip"])",   R"(["back"])",   R"(["pause"])",           R"(["toggle"])",
                              R"(["add", 1])", R"(["add", -1])", R"(["nearby", "fine"])", R"(["resume"])"};
    sim.at(t0 + 1000, [&] {
        for (const char* command : commands) client.send(request(command));
    });
    sim.at(t0 + 1500, [&] { client.send(request(R"(["status"])")); });
    const run_output r = run(sim, {"--control=" + name, "-r", "--at=22:13:30", "440,1"});
    client.read();
    EXPECT_EQ(r.status, 0);
    const std::string waits = "the run waits to start at 22:13:30: ";
    std::string expected;
    for (const char* what : {"skip", "back", "pause", "toggle", "add", "add", "nearby"})
        expected += "{\"request_id\":1,\"error\":\"" + waits + what + " acts once it plays\"}\n";
    expected += success;
    EXPECT_EQ(client.received.substr(0, expected.size()), expected);
    EXPECT_NE(client.received.find(R"("state":"waiting to start",)"), std::string::npos) << client.received;
    EXPECT_TRUE(client.received.ends_with(R"(,"version":"1.13","starts_at":"22:13:30","starts_in":9}})" "\n"))
        << client.received;
    EXPECT_EQ(r.err, "tonquel: " + waits + "s acts once it plays\ntonquel: " + waits +
                         "+ acts once it plays\ntonquel: " + waits + "p acts once it plays\ntonquel: " + waits +
                         "N acts once it plays\n");
    // The run then starts as if nothing had been asked, and the record
    // holds none of it.
    ASSERT_EQ(sim.audio.outputs.size(), 1u);
    EXPECT_EQ(sim.audio.outputs[0].opened_ms, t0 + 10000);
    EXPECT_EQ(tq_test::read_file(tq_test::files_starting_with("session_")[0]),
              "#Frequency, Duration\n# waiting to start at 22:13:30, in 0:10\n# started at 22:13:30\n  440, 1\n");

    sim_platform quitting;
    test_client quitter;
    quitting.at(t0 + 100, [&] { quitter.connect(quitting, name); });
    quitting.at(t0 + 2000, [&] { quitter.send(request(R"(["quit"])")); });
    EXPECT_EQ(run(quitting, {"--control=" + name, "--at=22:13:30", "440,1"}).status, 0);
    EXPECT_TRUE(quitting.audio.outputs.empty());
    EXPECT_LT(quitting.now_ms(), t0 + 2200);
}

// Sixteen clients that hung up still counted until the step after the next
// one came, which was told "too many clients"; sixteen that connect and say
// nothing held every slot for as long as they liked. A client is closed once
// it has sent no whole line and taken nothing for 10 s, unless it observes
// with nothing waiting for it.
TEST(control_run, slots_are_freed_by_clients_that_hung_up_or_went_idle_and_observers_stay) {
    tq_test::temp_dir dir;
    std::string tones = "440,20\n";
    for (int i = 0; i < 100000; ++i) tones += "550,1\n";
    tq_test::write_file("tones.txt", tones);
    sim_platform sim;
    sim.audio.record_samples = false;
    const std::string name = unique_name();
    std::vector<test_client> leaving(16);
    test_client after_leaving;
    std::vector<test_client> idle(11);
    test_client talker;      // a status at 6 s: closed 10 s after it
    test_client half_line;   // a line never ended
    test_client non_reader;  // a reply of megabytes that it never takes
    test_client observer;
    test_client refused;
    test_client after_idle;
    sim.at(t0 + 100, [&] {
        for (test_client& client : leaving) client.connect(sim, name);
    });
    sim.at(t0 + 300, [&] {
        for (test_client& client : leaving) client.connection.reset();
        after_leaving.connect(sim, name);
        after_leaving.send(request(R"(["status"])"));
    });
    sim.at(t0 + 500, [&] {
        for (test_client& client : idle) client.connect(sim, name);
        for (test_client* client : {&talker, &half_line, &non_reader, &observer}) client->connect(sim, name);
        half_line.send(R"({"command": ["status"])");
        non_reader.send(request(R"(["schedule"])"));
        observer.send(request(R"(["observe"])"));
    });
    sim.at(t0 + 1000, [&] {
        after_leaving.read();
        refused.connect(sim, name);  // the 17th
    });
    sim.at(t0 + 6000, [&] { talker.send(request(R"(["status"])")); });
    struct look {
        int64_t at;
        bool idle_open, talker_open, half_line_open, non_reader_open;
    };
    const look looks[] = {{10300, true, true, true, true}, {10800, false, true, false, false},
                          {15800, false, true, false, false}, {16300, false, false, false, false}};
    std::vector<std::string> wrong;
    for (const look& at : looks)
        sim.at(t0 + at.at, [&] {
            auto open = [](test_client& client) {
                client.read();
                return !client.hung_up;
            };
            size_t idle_open = 0;
            for (test_client& client : idle) idle_open += open(client) ? 1 : 0;
            const std::string when = " at " + std::to_string(at.at) + " ms";
            if (idle_open != (at.idle_open ? idle.size() : 0))
                wrong.push_back(std::to_string(idle_open) + " idle open" + when);
            if (open(talker) != at.talker_open) wrong.push_back("talker" + when);
            if (open(half_line) != at.half_line_open) wrong.push_back("half line" + when);
            // Read only once it should be closed: reading is taking.
            if (at.at > 10500 && open(non_reader) != at.non_reader_open) wrong.push_back("non-reader" + when);
            if (!open(observer)) wrong.push_back("observer" + when);
        });
    sim.at(t0 + 11000, [&] { after_idle.connect(sim, name); after_idle.send(request(R"(["status"])")); });
    sim.raise_signal_at(t0 + 17000, SIGINT);
    EXPECT_EQ(run(sim, {"--control=" + name, "-f", "tones.txt"}).status, 0);
    EXPECT_EQ(wrong, std::vector<std::string>{});
    EXPECT_EQ(after_leaving.received.rfind(R"({"request_id":1,"error":"success","data":{"state":"playing")", 0), 0u)
        << after_leaving.received;
    refused.read();
    EXPECT_EQ(refused.received, "{\"error\":\"too many clients: at most 16 at once\"}\n");
    after_idle.read();
    EXPECT_EQ(after_idle.received.rfind(R"({"request_id":1,"error":"success","data":{"state":"playing")", 0), 0u)
        << after_idle.received;
    observer.read();
    EXPECT_EQ(observer.received, success + "{\"event\":\"end\",\"status\":0}\n");
}

// The reply to a schedule request with request_id 1 for the tones written.
std::string schedule_reply_for(const std::vector<std::pair<int, int>>& tones) {
    std::string reply = R"({"request_id":1,"error":"success","data":[)";
    for (const auto& [frequency, duration] : tones) {
        if (reply.back() == '}') reply += ',';
        reply += "{\"frequency\":" + std::to_string(frequency) + ",\"duration\":" + std::to_string(duration) + "}";
    }
    return reply + "]}\n";
}

std::vector<std::pair<int, int>> write_tones(int first_seconds, int count) {
    std::vector<std::pair<int, int>> tones{{440, first_seconds}};
    for (int i = 1; i < count; ++i) tones.emplace_back(100 + i % 1000, 1);
    std::string text;
    for (const auto& [frequency, duration] : tones) text += std::to_string(frequency) + "," + std::to_string(duration) + "\n";
    tq_test::write_file("tones.txt", text);
    return tones;
}

// Replies were built and lines read without a bound on the step's time, on
// the thread that feeds the sound: 200 schedule requests against a
// 200,000-entry schedule silenced the classic player for a second, and each
// request cost the smooth player, which holds 60 ms of sound, a gap (here
// 240 requests for 20,000 entries, 620 kB each, so that some arrive whole
// within the run on a named pipe too); deep
// lines were read twice, to the end. Now each step's control work is bounded
// in real time, the clients take turns, and a status still comes at once.
TEST(control_run, a_flood_costs_each_step_a_bounded_time_and_a_status_still_comes_at_once) {
    for (const bool smooth : {false, true}) {
        const char* label = smooth ? "smooth" : "classic";
        tq_test::temp_dir dir;
        const std::string whole = schedule_reply_for(write_tones(30, 20000));
        sim_platform sim;
        sim.audio.record_samples = false;
        const std::string name = unique_name();
        std::vector<test_client> schedulers(6);
        std::vector<test_client> nesters(6);
        test_client asker;
        const std::string nested = std::string(60000, '[') + "\n";
        int64_t asked_at = -1;
        int64_t slowest_answer = 0;
        int answers = 0;
        sim.at(t0 + 100, [&] {
            for (test_client& client : schedulers) client.connect(sim, name);
            for (test_client& client : nesters) client.connect(sim, name);
            asker.connect(sim, name);
            for (test_client& client : schedulers)
                for (int i = 0; i < 40; ++i) client.send(request(R"(["schedule"])"));
        });
        for (int64_t at = t0 + 150; at < t0 + 3000; at += 50)
            sim.at(at, [&, at] {
                for (test_client& client : schedulers) client.read();
                for (test_client& client : nesters) {
                    client.read();
                    client.send(client.unsent.size() < 2 * nested.size() ? nested : "");
                }
                asker.read();
                if (asked_at >= 0 && !asker.received.empty()) {
                    slowest_answer = std::max(slowest_answer, at - asked_at);
                    ++answers;
                    asker.received.clear();
                    asked_at = -1;
                }
                if (asked_at < 0 && at % 200 == 0) {
                    asker.send(request(R"(["status"])"));
                    asked_at = at;
                }
            });
        sim.at(t0 + 3000, [&] { asker.send(request(R"(["quit"])")); });
        std::vector<std::string> args{"--control=" + name, "-f", "tones.txt"};
        if (smooth) args.insert(args.begin(), "--smooth");
        EXPECT_EQ(run(sim, args).status, 0) << label;
        // Seconds before: a quarter of one leaves the tests room on a busy
        // machine (the smooth player's steps take a few milliseconds).
        EXPECT_LT(sim.longest_step_us, 250000) << label;
        // Asked 14 times: most come back by the next look, each within half
        // a second (a busy machine's named pipe lets a few wait a look more).
        EXPECT_GE(answers, 8) << label;
        EXPECT_LE(slowest_answer, 500) << label;
        for (test_client& client : schedulers) {
            client.read();
            const size_t replies = client.received.size() / whole.size();
            EXPECT_GE(replies, 1u) << label;
            for (size_t i = 0; i < replies; ++i)
                EXPECT_EQ(client.received.compare(i * whole.size(), whole.size(), whole), 0) << label << " " << i;
        }
        const std::string too_deep = "{\"error\":\"nested deeper than 16 levels\"}\n";
        for (test_client& client : nesters) {
            client.read();
            EXPECT_GE(client.received.size(), 10 * too_deep.size()) << label;
            EXPECT_EQ(client.received.substr(0, too_deep.size()), too_deep) << label;
        }
    }
}

// What a reply left in the channel was sent only when another reply was
// queued, so that a schedule of more than about 6,600 entries never arrived
// whole. A reply of a million entries is written as the client takes it,
// whole, without the tones that keys add meanwhile (entries would repeat)
// and with the events that come meanwhile after it (they would cut it).
TEST(control_run, a_reply_of_a_million_entries_arrives_whole_with_the_events_after_it) {
    tq_test::temp_dir dir;
    const std::string whole = schedule_reply_for(write_tones(60, 1000000));
    sim_platform sim;
    sim.audio.record_samples = false;
    sim.keys.script = {{t0 + 1000, 'n'}, {t0 + 2000, 's'}};
    const std::string name = unique_name();
    test_client client;
    sim.at(t0 + 100, [&] {
        client.connect(sim, name);
        client.send(request(R"(["observe"])", 2) + request(R"(["schedule"])"));
    });
    bool quit = false;
    size_t looked = 0;  // what has been looked through for the event
    for (int64_t at = t0 + 150; at < t0 + 50000; at += 50)
        sim.at(at, [&] {
            client.read();
            const size_t from = looked;
            looked = client.received.size();
            if (quit || client.received.find("tone-start", from > 10 ? from - 10 : 0) == std::string::npos) return;
            client.send(request(R"(["quit"])", 3));
            quit = true;
        });
    sim.raise_signal_at(t0 + 50000, SIGINT);
    EXPECT_EQ(run(sim, {"--control=" + name, "-f", "tones.txt"}).status, 0);
    client.read();
    EXPECT_TRUE(quit);
    const std::string expected =
        "{\"request_id\":2,\"error\":\"success\"}\n" + whole +
        "{\"event\":\"tone-start\",\"frequency\":437,\"duration\":180,\"index\":2}\n"
        "{\"request_id\":3,\"error\":\"success\"}\n{\"event\":\"end\",\"status\":0}\n";
    EXPECT_EQ(client.received.size(), expected.size());
    EXPECT_TRUE(client.received == expected) << client.received.substr(0, 200);
}

bool answers_at(sim_platform& sim, const std::string& name) {
    return sim.control->connect(sim.control->named_address(name), false).connection != nullptr;
}

TEST(control_run, the_place_is_given_up_on_every_way_out_and_never_shared) {
    struct way_out {
        const char* what;
        std::vector<std::string> args;
        std::vector<sim_key> keys;
        int64_t signal_ms;
        int failing_write;
        int status;
    };
    const way_out ways[] = {
        {"end", {"440,1"}, {}, -1, 0, 0},
        {"q", {"440,5"}, {{t0 + 500, 'q'}}, -1, 0, 0},
        {"Ctrl-C", {"440,5"}, {}, t0 + 500, 0, 0},
        {"device error", {"440,5"}, {}, -1, 4, 1},
    };
    for (const way_out& way : ways) {
        tq_test::temp_dir dir;
        sim_platform sim;
        sim.audio.fail_write_number = way.failing_write;
        sim.audio.fail_write_code = 5;
        sim.keys.script = way.keys;
        if (way.signal_ms >= 0) sim.raise_signal_at(way.signal_ms, SIGINT);
        const std::string name = unique_name();
        bool answered = false;
        sim.at(t0 + 100, [&] { answered = answers_at(sim, name); });
        std::vector<std::string> args{"--control=" + name};
        args.insert(args.end(), way.args.begin(), way.args.end());
        EXPECT_EQ(run(sim, args).status, way.status) << way.what;
        EXPECT_TRUE(answered) << way.what;
        EXPECT_FALSE(answers_at(sim, name)) << way.what;
        EXPECT_TRUE(tq_test::files_starting_with("tonquel-test-").empty()) << way.what;
    }

    tq_test::temp_dir dir;
    sim_platform sim;
    const std::string name = unique_name();
    std::string error;
    const auto other_run = sim.control->listen(sim.control->named_address(name), false, error);
    ASSERT_TRUE(other_run) << error;
    const run_output r = run(sim, {"--control=" + name, "-r", "440,1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tonquel: " + sim.control->named_address(name) + ": another run answers there\n");
    EXPECT_TRUE(sim.audio.outputs.empty());
    EXPECT_TRUE(tq_test::files_starting_with("session_").empty());
    EXPECT_EQ(run(sim, {"--control", "--output", "x.wav", "440,1"}).status, 2);
    EXPECT_EQ(run(sim, {"--output=x.wav", "--control=" + name, "440,1"}).status, 2);
}

#ifndef _WIN32
TEST(control_run, a_dead_runs_socket_is_taken_over_and_a_shared_folder_refused) {
    tq_test::temp_dir dir;
    const std::string stale = dir.path() + "/stale";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, stale.c_str(), stale.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);  // a run killed with -9 leaves its socket so
    sim_platform sim;
    bool answered = false;
    struct stat made {};
    sim.at(t0 + 100, [&] { answered = answers_at(sim, stale) && stat(stale.c_str(), &made) == 0; });
    EXPECT_EQ(run(sim, {"--control=" + stale, "440,1"}).status, 0);
    EXPECT_TRUE(answered);
    EXPECT_EQ(made.st_mode & 0777, 0600u);

    // The default place lies in a folder that others may enter.
    const std::string runtime = dir.path() + "/runtime";
    std::filesystem::create_directories(runtime + "/tonquel");
    chmod((runtime + "/tonquel").c_str(), 0755);
    const char* saved = getenv("XDG_RUNTIME_DIR");
    const std::string saved_value = saved != nullptr ? saved : "";
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    sim_platform refused;
    const run_output r = run(refused, {"-r", "--control", "440,1"});
    if (saved != nullptr) setenv("XDG_RUNTIME_DIR", saved_value.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tonquel: " + runtime + "/tonquel: not a folder of this user's with mode 0700\n");
    EXPECT_TRUE(tq_test::files_starting_with("session_").empty());
}
// A stand-in for a run at path, for --send: it listens, and with an answer
// takes one client, reads its request and writes the answer in pieces of
// piece bytes, then hangs up.
class fake_run {
public:
    fake_run(const std::string& path, int backlog) : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const bool bound = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                           ::listen(fd_, backlog) == 0;
        EXPECT_TRUE(bound) << strerror(errno);
        // Filled to the brim, when it is never to take anyone.
        while (backlog == 0) {
            const int waiting = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (connect(waiting, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                close(waiting);
                break;
            }
            queued_.push_back(waiting);
        }
    }
    ~fake_run() {
        if (server_.joinable()) server_.join();
        for (int fd : queued_) close(fd);
        close(fd_);
    }
    fake_run(const fake_run&) = delete;
    fake_run& operator=(const fake_run&) = delete;

    void answer(std::string text, size_t piece) {
        server_ = std::thread([this, text = std::move(text), piece] {
            const int client = accept(fd_, nullptr, nullptr);
            if (client < 0) return;
            char request[256];
            (void)!read(client, request, sizeof request);
            for (size_t at = 0; at < text.size(); at += piece) {
                const size_t size = std::min(piece, text.size() - at);
                if (send(client, text.data() + at, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) break;
                if (piece < text.size()) usleep(1000);
            }
            close(client);
        });
    }

private:
    int fd_;
    std::vector<int> queued_;
    std::thread server_;
};

// What --send makes of what a run returns. The faults: a deeply nested
// reply crashed it; a line that is no answer was passed over until the
// wait ran out; lines split across reads must come out whole.
TEST(control_send, prints_what_comes_and_refuses_what_cannot_be_read) {
    struct answer_case {
        const char* command;
        std::string answer;
        size_t piece;
        int status;
        std::string out;
        std::string err;  // after "tonquel: PATH: "
    };
    const std::string nested = "{\"error\":\"success\",\"data\":" + std::string(1 << 20, '[');
    const answer_case cases[] = {
        {"status", "{\"request_id\":1,\"error\":\"success\",\"data\":{\"left\":3}}\n", 5, 0, "{\"left\":3}\n", ""},
        {"observe", success + "{\"event\":\"pause\"}\n{\"event\":\"end\",\"status\":0}\n", 7, 0,
         "{\"event\":\"pause\"}\n{\"event\":\"end\",\"status\":0}\n", ""},
        {"skip", "{\"error\":\"no such tone\"}\n", 100, 1, "", "no such tone"},
        {"status", nested + "\n", 65536, 1, "", "the run's answer cannot be read: nested deeper than 16 levels"},
        {"status", "OK\n", 100, 1, "", "the run's answer cannot be read: not JSON: "},
        {"observe", success + "{\"event\":\"pause\"}\n[]\n", 100, 1, "{\"event\":\"pause\"}\n",
         "the run's answer cannot be read: not a JSON object"},
        {"status", "{\"error\":", 100, 1, "", "the run went away without answering"},
    };
    for (const answer_case& test : cases) {
        tq_test::temp_dir dir;
        const std::string path = dir.path() + "/ctl";
        fake_run fake(path, 4);
        fake.answer(test.answer, test.piece);
        sim_platform sim;
        const run_output r = run(sim, {"--control=" + path, "--send", test.command});
        const std::string label = test.answer.substr(0, 60);
        EXPECT_EQ(r.status, test.status) << label;
        EXPECT_EQ(r.out, test.out) << label;
        if (test.err.empty()) EXPECT_EQ(r.err, "") << label;
        else if (test.err == "no such tone") EXPECT_EQ(r.err, "tonquel: no such tone\n") << label;
        else EXPECT_EQ(r.err.substr(0, 11 + path.size() + test.err.size()), "tonquel: " + path + ": " + test.err)
            << label << r.err;
    }
}

// A folder of the default place that others may open, or a file there, was
// trusted.
TEST(control_send, refuses_a_default_folder_that_others_may_open) {
    tq_test::temp_dir dir;
    const std::string runtime = dir.path() + "/runtime";
    const std::string folder = runtime + "/tonquel";
    std::filesystem::create_directories(folder);
    const char* saved = getenv("XDG_RUNTIME_DIR");
    const std::string saved_value = saved != nullptr ? saved : "";
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    struct folder_case {
        mode_t mode;
        bool file;  // the folder's place holds a file
        std::string err;
    };
    const folder_case folders[] = {
        {0750, false, folder + ": other users may open it (mode 0750), so what answers there is not trusted"},
        {0701, false, folder + ": other users may open it (mode 0701), so what answers there is not trusted"},
        {0700, false, "no run answers at " + folder + "/control"},
        {0700, true, folder + ": not a folder, so no run of this user's answers there"},
    };
    for (const folder_case& test : folders) {
        if (test.file) {
            std::filesystem::remove_all(folder);
            tq_test::write_file(folder, "");
        }
        chmod(folder.c_str(), test.mode);
        sim_platform sim;
        const run_output r = run(sim, {"--send", "status"});
        EXPECT_EQ(r.status, 1) << test.mode;
        EXPECT_EQ(r.err, "tonquel: " + test.err + "\n") << test.mode;
    }
    if (saved != nullptr) setenv("XDG_RUNTIME_DIR", saved_value.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
}
#endif

// A place that takes no client: a Unix socket whose queue is full, or a
// pipe whose every instance is taken.
struct full_place {
#ifdef _WIN32
    full_place() {
        pipe = CreateNamedPipeA(address.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                nullptr);
        EXPECT_NE(pipe, INVALID_HANDLE_VALUE);
        taken = CreateFileA(address.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(taken, INVALID_HANDLE_VALUE);
    }
    ~full_place() {
        CloseHandle(taken);
        CloseHandle(pipe);
    }
    full_place(const full_place&) = delete;
    full_place& operator=(const full_place&) = delete;

    std::string address = "\\\\.\\pipe\\" + unique_name();
    HANDLE pipe;
    HANDLE taken;
#else
    tq_test::temp_dir dir;
    std::string address = dir.path() + "/ctl";
    fake_run never_takes{address, 0};
#endif
};

// A run whose queue is full (a flood, or a program that never takes
// anyone) once held --send in connect() for ever, through Ctrl-C; on
// Windows WaitNamedPipe held it for 10 s.
TEST(control_send, gives_up_on_a_full_queue_and_ends_on_a_signal) {
    struct wait_case {
        int signal_ms;  // after the start; -1 for none
        int status;
        int64_t ended_by_ms;
        std::string err;
    };
    const wait_case waits[] = {
        {-1, 1, 3100, ": the run takes no client within 3 seconds (its queue is full)\n"},
        {400, 0, 450, ""},
        {1000, 0, 1050, ""},
    };
    for (const wait_case& wait : waits) {
        for (const int signal_number : {SIGINT, SIGTERM}) {
            full_place place;
            sim_platform sim;
            if (wait.signal_ms >= 0) sim.raise_signal_at(t0 + wait.signal_ms, signal_number);
            const run_output r = run(sim, {"--send", "status", "--control=" + place.address});
            EXPECT_EQ(r.status, wait.status) << wait.signal_ms;
            EXPECT_EQ(r.err, wait.err.empty() ? "" : "tonquel: " + place.address + wait.err) << wait.signal_ms;
            EXPECT_GE(sim.now_ms(), t0 + std::min(wait.ended_by_ms - 100, int64_t{3000})) << wait.signal_ms;
            EXPECT_LE(sim.now_ms(), t0 + wait.ended_by_ms) << wait.signal_ms;
            if (wait.signal_ms < 0) break;
        }
    }
}

}  // namespace
