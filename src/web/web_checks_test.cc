// What the web page's server lets through before anything reaches the run.

#include "web/web_checks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string key = "0123456789abcdef0123456789abcdef";

// A key taken from the wrong part of the address or cookie would let a
// page in with another parameter's value, or keep a right key out.
TEST(web_checks, the_key_is_read_from_the_address_and_the_cookie_alone) {
    const struct {
        const char* target;
        const char* key;
    } targets[] = {
        {"/?key=abc", "abc"},     {"/?x=1&key=abc&y=2", "abc"}, {"/", ""},
        {"/?keys=abc", ""},       {"/?xkey=abc", ""},           {"/state?key=", ""},
        {"/?key=abc&key=d", "abc"},
    };
    for (const auto& row : targets) EXPECT_EQ(key_in_target(row.target), row.key) << row.target;
    const struct {
        const char* header;
        const char* key;
    } cookies[] = {
        {"tonquel-key=abc", "abc"},
        {"a=1; tonquel-key=abc; b=2", "abc"},
        {"a=1;tonquel-key=abc", "abc"},
        {"xtonquel-key=abc", ""},
        {"tonquel-keys=abc", ""},
        {"", ""},
    };
    for (const auto& row : cookies) EXPECT_EQ(key_in_cookie(row.header), row.key) << row.header;
    EXPECT_EQ(target_path("/state?key=1"), "/state");
}

// A cookie that scripts can read or that other sites' requests carry would
// hand the key out.
TEST(web_checks, the_cookie_is_for_the_page_alone) {
    const std::string cookie = key_cookie(key);
    EXPECT_EQ(cookie.rfind("tonquel-key=" + key + ";", 0), 0u) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    EXPECT_NE(cookie.find("Path=/"), std::string::npos);
}

TEST(web_checks, only_the_whole_key_matches) {
    EXPECT_TRUE(same_key(key, key));
    EXPECT_FALSE(same_key(key.substr(0, 31), key));
    EXPECT_FALSE(same_key(key + "0", key));
    EXPECT_FALSE(same_key("1123456789abcdef0123456789abcdef", key));
    EXPECT_FALSE(same_key("", ""));
}

// DNS rebinding: a page of evil.example whose name points here would read
// the page with the browser's cookie if any Host were served.
TEST(web_checks, a_host_header_must_name_this_server) {
    const web_host_names loopback{"127.0.0.1", 8765, "box", "127.0.0.1"};
    const web_host_names lan{"0.0.0.0", 8765, "box", "192.168.1.5"};
    const web_host_names v6{"::1", 8765, "box", "::1"};
    const struct {
        const web_host_names* names;
        const char* host;
        bool allowed;
    } cases[] = {
        {&loopback, "127.0.0.1:8765", true},
        {&loopback, "localhost:8765", true},
        {&loopback, "LocalHost:9000", true},  // a tunnel ending on another port
        {&loopback, "evil.example:8765", false},
        {&loopback, "evil.example", false},
        {&loopback, "127.0.0.1.evil.example:8765", false},
        {&loopback, "", false},
        {&loopback, "127.0.0.1:99999", false},
        {&loopback, "127.0.0.1:87a5", false},
        {&lan, "192.168.1.5:8765", true},
        {&lan, "box:8765", true},
        {&lan, "BOX.local:8765", true},
        {&lan, "box:8766", false},
        {&lan, "192.168.1.5", false},  // port 80
        {&lan, "0.0.0.0:8765", false},
        {&lan, "192.168.1.6:8765", false},
        {&lan, "evil.example:8765", false},
        {&lan, "box.evil.example:8765", false},
        {&v6, "[::1]:8765", true},
        {&v6, "[::1:8765", false},
        {&v6, "[::1]x:8765", false},
    };
    for (const auto& row : cases) EXPECT_EQ(host_allowed(row.host, *row.names), row.allowed) << row.host;
}

// A form on another site posting here (the cookie would go along in an
// older browser) must not act as a button.
TEST(web_checks, a_command_must_come_from_the_page_itself) {
    const struct {
        const char* origin;
        const char* host;
        bool allowed;
    } cases[] = {
        {"http://127.0.0.1:8765", "127.0.0.1:8765", true},
        {"http://box.local:8765", "BOX.local:8765", true},
        {"", "127.0.0.1:8765", false},
        {"null", "127.0.0.1:8765", false},
        {"http://evil.example", "127.0.0.1:8765", false},
        {"https://127.0.0.1:8765", "127.0.0.1:8765", false},
        {"http://127.0.0.1:8765.evil.example", "127.0.0.1:8765", false},
        {"http://127.0.0.1:8765", "", false},
    };
    for (const auto& row : cases) EXPECT_EQ(origin_allowed(row.origin, row.host), row.allowed) << row.origin;
}

// Without the wait, 128 bits still could not be guessed, but a loop of
// tries would cost the box; with a wait per connection, 32 connections
// would try 32 keys a second.
TEST(web_checks, five_wrong_keys_then_one_try_a_second_from_that_address) {
    wrong_key_delay delay;
    int64_t now = 1000;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(delay.turn("a", now), now) << i;
        delay.wrong("a", now);
    }
    EXPECT_EQ(delay.turn("b", now), now);  // another address is not held up
    // Tries at once wait their turns one second apart; one that would wait
    // longer than a request may take is refused without a look.
    EXPECT_EQ(delay.turn("a", now), now + 1000);
    EXPECT_EQ(delay.turn("a", now), now + 2000);
    EXPECT_EQ(delay.turn("a", now), -1);
    now += 2000;
    delay.wrong("a", now);
    EXPECT_EQ(delay.turn("a", now + 1000), now + 1000);
    delay.right("a");
    EXPECT_EQ(delay.turn("a", now + 1000), now + 1000);
}

// A flood of addresses must not grow the table without end.
TEST(web_checks, the_wrong_key_table_is_bounded) {
    wrong_key_delay delay;
    for (size_t i = 0; i < wrong_key_delay::most_addresses + 100; ++i)
        delay.wrong("10.0." + std::to_string(i), static_cast<int64_t>(i));
    EXPECT_EQ(delay.addresses(), wrong_key_delay::most_addresses);
}

// Each button is the control command of its name; + and - are add 1 and
// add -1 as the keys.
TEST(web_checks, each_button_path_is_its_control_command) {
    const struct {
        const char* path;
        const char* line;
    } cases[] = {
        {"/command/pause", R"({"command":["pause"],"request_id":1})"},
        {"/command/resume", R"({"command":["resume"],"request_id":1})"},
        {"/command/skip", R"({"command":["skip"],"request_id":1})"},
        {"/command/back", R"({"command":["back"],"request_id":1})"},
        {"/command/up", R"({"command":["add",1],"request_id":1})"},
        {"/command/down", R"({"command":["add",-1],"request_id":1})"},
        {"/command/quit", R"({"command":["quit"],"request_id":1})"},
        {"/command/schedule", ""},
        {"/command/", ""},
        {"/pause", ""},
    };
    for (const auto& row : cases)
        EXPECT_EQ(web_command_line(row.path), row.line[0] ? std::string(row.line) + "\n" : "") << row.path;
}

TEST(web_checks, the_web_address_is_an_ip_address_and_a_port) {
    const struct {
        const char* text;
        const char* address;
        uint16_t port;
    } cases[] = {
        {"127.0.0.1:8765", "127.0.0.1", 8765}, {"0.0.0.0:80", "0.0.0.0", 80}, {"[::1]:8765", "::1", 8765},
        {"[::]:1", "::", 1},                   {"127.0.0.1", "", 0},           {"127.0.0.1:0", "", 0},
        {"127.0.0.1:65536", "", 0},            {"localhost:8765", "", 0},      {"256.0.0.1:8765", "", 0},
        {"1.2.3:8765", "", 0},                 {":8765", "", 0},               {"[zz]:8765", "", 0},
        {"1.2.3.4:", "", 0},                   {"01.2.3.4:80", "", 0},
    };
    for (const auto& row : cases) {
        std::string address;
        uint16_t port = 0;
        const std::string error = split_web_address(row.text, address, port);
        EXPECT_EQ(error.empty(), row.address[0] != '\0') << row.text << ": " << error;
        EXPECT_EQ(address, row.address) << row.text;
        EXPECT_EQ(port, row.port) << row.text;
    }
}

}  // namespace
