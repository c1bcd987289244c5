// Whole runs controlled from outside (--control) on the simulated platform:
// the clients talk to the run on this system's real socket (a named pipe on
// Windows) at scripted moments of virtual time.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
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
        std::string error;
        connection = sim.control->connect(sim.control->named_address(name), error);
        ASSERT_TRUE(connection) << error;
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
        // While paused a command, as a key, only resumes.
        {{{t0 + 500, 'p'}, {t0 + 900, 'q'}}, {{t0 + 500, R"(["pause"])"}, {t0 + 900, R"(["quit"])"}}},
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
    EXPECT_EQ(client.received,
              R"({"request_id":1,"error":"success","data":{"state":"playing","frequency":440,"duration":2,)"
              R"("elapsed":1,"index":1)" + status_tail + R"(4,"version":"1.13"}})" "\n"
              R"({"request_id":3,"error":"success"})" "\n"
              R"({"request_id":4,"error":"success","data":{"state":"paused","frequency":440,"duration":2,)"
              R"("elapsed":1,"index":1)" + status_tail + R"(4,"version":"1.13"}})" "\n"
              R"({"request_id":5,"error":"success"})" "\n"
              R"({"request_id":6,"error":"success","data":{"state":"waiting for device","frequency":550,)"
              R"("duration":3,"elapsed":0,"index":2)" + status_tail + R"(3,"version":"1.13"}})" "\n"
              R"({"request_id":7,"error":"success","data":[{"frequency":550,"duration":3}]})" "\n");
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

bool answers_at(sim_platform& sim, const std::string& name) {
    std::string error;
    return sim.control->connect(sim.control->named_address(name), error) != nullptr;
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
#endif

}  // namespace
