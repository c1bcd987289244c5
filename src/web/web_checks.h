#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// What the web page's server (--web) decides about a request before anything
// reaches the run: whose key it carries, whether it was meant for this
// machine, whether a command comes from the page itself, and how much a
// client may ask of it. Plain functions of text and time, so that each
// rule is tested on its own.

// Where --web listens without an address.
constexpr const char* web_default_address = "127.0.0.1:8765";

// --web's ADDRESS:PORT ("0.0.0.0:8765", "[::1]:8765") into the address and
// the port; the message when it is not one.
std::string split_web_address(std::string_view text, std::string& address, uint16_t& port);

// The limits that keep the server, and through it the run, out of reach of
// a flood: connections at once, the time to a whole request (so that idle
// and slow clients cannot keep the phone out), a request's head and body.
constexpr size_t web_most_connections = 32;
constexpr int64_t web_request_ms = 2000;
constexpr size_t web_longest_head = 8 * 1024;
constexpr size_t web_longest_body = 1024;
// Commands waiting for the run; more are answered 503 at once.
constexpr size_t web_most_commands = 8;

// The cookie that holds the key once the address with the key was opened.
constexpr const char* web_cookie_name = "tonquel-key";

// The value of key= in a request target ("/?key=..."); empty without one.
std::string key_in_target(std::string_view target);
// The target's path, without its query.
std::string_view target_path(std::string_view target);
// The value of the key cookie in a Cookie header; empty without one.
std::string key_in_cookie(std::string_view cookie_header);
// The header that sets the cookie: for the page alone, not for its script,
// never sent along by another site's page.
std::string key_cookie(const std::string& key);
// Compares in a time that does not tell how much of a guess was right.
bool same_key(std::string_view given, std::string_view key);

// The names a request may give in its Host header: the address the server
// listens on and its port, the machine's name (also as NAME.local), the
// address the client reached it at. A loopback name (localhost, 127.0.0.1,
// [::1]) may come with any port, for a tunnel that ends on another.
struct web_host_names {
    std::string listening;  // "127.0.0.1", "0.0.0.0", "192.168.1.5", "::1"
    uint16_t port = 0;
    std::string machine;  // the host name
    std::string reached;  // the connection's local address
};
// Whether the Host header names this server: a page of another site whose
// name was made to point here (DNS rebinding) names that site.
bool host_allowed(std::string_view host, const web_host_names& names);
// Whether a command's Origin header is the page's own: http://HOST, HOST as
// the request names it. Without one, no.
bool origin_allowed(std::string_view origin, std::string_view host);

// The wait for tries from an address that gave five wrong keys: a second
// per try, one after another however many connections it opens; one whose
// turn lies further off than a request may take is refused at once. The
// right key forgets the address. A few thousand addresses are kept at most,
// the oldest forgotten first.
class wrong_key_delay {
public:
    // When a try from address that arrives at now_ms may be looked at:
    // now_ms or later; -1 when it is refused without a look.
    int64_t turn(const std::string& address, int64_t now_ms);
    void wrong(const std::string& address, int64_t now_ms);
    void right(const std::string& address);
    size_t addresses() const { return kept_.size(); }

    static constexpr int free_tries = 5;
    static constexpr int64_t try_ms = 1000;
    static constexpr size_t most_addresses = 4096;

private:
    struct record {
        int wrong = 0;
        int64_t next_ms = 0;  // the next try's turn, once past free_tries
        int64_t last_ms = 0;
    };
    std::map<std::string, record> kept_;
};

// The control request that a command's path names ("/command/pause"), as a
// line for the run; empty for no command.
std::string web_command_line(std::string_view path);
