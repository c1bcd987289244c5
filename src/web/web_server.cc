#include "web/web_server.h"

// GCC 12 in C++20 needs it before Boost's headers.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/control/control.h"
#include "log/log.h"
#include "platform/os.h"
#include "platform/platform.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"
#include "web/web_checks.h"
#include "web/web_state.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

using clock_type = std::chrono::steady_clock;

std::string_view view_of(beast::string_view text) {
    return {text.data(), text.size()};
}

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now().time_since_epoch()).count();
}

// How often the page's server asks the run where it stands: the times left
// change each second, and the page polls a little faster than that.
constexpr int64_t status_every_ms = 250;
// The longest line taken from the run: a schedule's reply of a million
// entries is about 31 MB. A longer one is skipped, and the page lists no
// next tones.
constexpr size_t longest_run_line = size_t{64} << 20;
// At the end, how long the run waits for a page that polls to see it.
constexpr int64_t end_shown_ms = 1500;
constexpr int64_t page_seen_ms = 2000;

struct command_wait {
    std::string line;
    std::function<void(const std::string& error)> done;
};

// What the HTTP thread and the control thread share.
struct shared_state {
    std::mutex mutex;
    web_run_view view;
    std::string page_json = web_page_json(view);
    std::deque<command_wait> commands;
    bool stopping = false;
    // Commands whose answers are not yet written: the end waits for them.
    int answers_due = 0;
    int64_t last_poll_ms = -1;
    bool end_served = false;
};

// The page server's side of the control channel: one connection that
// observes the run and asks for its status, and carries the commands.
class run_link {
public:
    run_link(shared_state& shared, control_channel& channel, std::string address, bool private_folder,
             net::io_context& context)
        : shared_(shared),
          channel_(channel),
          address_(std::move(address)),
          private_folder_(private_folder),
          context_(context) {}

    void run() {
        while (!stopping()) {
            if (!connection_) {
                if (!connect()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    continue;
                }
            }
            ask();
            flush();
            if (connection_ && !output_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            else if (connection_) connection_->wait_for_input(50);
            receive();
        }
    }

private:
    enum class asked { observe, status, schedule, command };
    struct question {
        asked what;
        std::function<void(const std::string&)> done;
        bool quit = false;
    };

    bool stopping() {
        std::lock_guard lock(shared_.mutex);
        return shared_.stopping;
    }

    bool connect() {
        {
            std::lock_guard lock(shared_.mutex);
            if (shared_.view.ended) return false;
        }
        control_reach reach = channel_.connect(address_, private_folder_);
        if (!reach.connection) {
            if (!reach.busy && ++failed_tries_ > 40) set_lost(true);
            return false;
        }
        failed_tries_ = 0;
        connection_ = std::move(reach.connection);
        send(control_request_line_of("observe"), asked::observe);
        status_due_ = true;
        return true;
    }

    static std::string control_request_line_of(const char* command) {
        return std::string("{\"command\":[\"") + command + "\"]}\n";
    }

    void send(const std::string& line, asked what, std::function<void(const std::string&)> done = {}) {
        output_ += line;
        // The run may close before its answer to quit gets here (a pipe
        // drops what was not read).
        questions_.push_back({what, std::move(done), line.find("[\"quit\"]") != std::string::npos});
    }

    void ask() {
        if (!connection_) return;
        const int64_t now = now_ms();
        if (!status_out_ && (status_due_ || now - status_ms_ >= status_every_ms)) {
            send(control_request_line_of("status"), asked::status);
            status_out_ = true;
            status_due_ = false;
            status_ms_ = now;
        }
        if (schedule_due_ && !schedule_out_) {
            send(control_request_line_of("schedule"), asked::schedule);
            schedule_out_ = true;
            schedule_due_ = false;
        }
        std::lock_guard lock(shared_.mutex);
        while (!shared_.commands.empty()) {
            command_wait command = std::move(shared_.commands.front());
            shared_.commands.pop_front();
            send(command.line, asked::command, std::move(command.done));
        }
    }

    void flush() {
        while (connection_ && !output_.empty()) {
            const long sent = connection_->send(output_.data(), output_.size());
            if (sent < 0) return hang_up();
            if (sent == 0) return;
            output_.erase(0, static_cast<size_t>(sent));
        }
    }

    void receive() {
        char buffer[64 * 1024];
        while (connection_) {
            const long got = connection_->receive(buffer, sizeof buffer);
            if (got < 0) return hang_up();
            if (got == 0) return;
            take(std::string_view(buffer, static_cast<size_t>(got)));
        }
    }

    void take(std::string_view bytes) {
        while (!bytes.empty()) {
            const size_t end = bytes.find('\n');
            const std::string_view piece = bytes.substr(0, end);
            if (!skipping_) input_.append(piece);
            if (input_.size() > longest_run_line) {
                input_.clear();
                skipping_ = true;
            }
            if (end == std::string_view::npos) return;
            bytes.remove_prefix(end + 1);
            line(skipping_ ? std::string_view() : std::string_view(input_));
            input_.clear();
            skipping_ = false;
        }
    }

    void line(std::string_view text) {
        const web_run_line read = read_run_line(text);
        if (read.type == web_run_line::kind::event) return event(read);
        if (questions_.empty()) return;
        question asked_for = std::move(questions_.front());
        questions_.pop_front();
        std::lock_guard lock(shared_.mutex);
        web_run_view& view = shared_.view;
        switch (asked_for.what) {
        case asked::status: {
            status_out_ = false;
            const uint32_t index = view.index, entries = view.entries;
            const std::string state = view.state;
            if (read_status_reply(text, view) &&
                (view.index != index || view.entries != entries || view.state != state))
                schedule_due_ = true;
            break;
        }
        case asked::schedule:
            schedule_out_ = false;
            if (!read_schedule_reply(text, view)) view.next.clear();
            break;
        case asked::command: {
            status_due_ = true;
            std::string error = read.type == web_run_line::kind::reply ? read.error : "no answer from the run";
            net::post(context_, [done = std::move(asked_for.done), error] { done(error); });
            break;
        }
        case asked::observe:
            break;
        }
        view.lost = false;
        shared_.page_json = web_page_json(view);
    }

    void event(const web_run_line& read) {
        status_due_ = true;
        if (read.event == "tone-start") schedule_due_ = true;
        if (read.event != "end") return;
        std::lock_guard lock(shared_.mutex);
        shared_.view.ended = true;
        shared_.view.end_status = read.status;
        shared_.page_json = web_page_json(shared_.view);
    }

    void set_lost(bool lost) {
        std::lock_guard lock(shared_.mutex);
        // Commands that no run will take are answered now.
        for (command_wait& command : shared_.commands)
            net::post(context_, [done = std::move(command.done)] { done("no answer from the run"); });
        shared_.commands.clear();
        shared_.view.lost = lost;
        shared_.page_json = web_page_json(shared_.view);
    }

    // The run ended or dropped this client: the commands that wait are told,
    // and a run that goes on is reached again.
    void hang_up() {
        connection_.reset();
        bool quit_asked = false;
        for (question& waiting : questions_) {
            quit_asked = quit_asked || waiting.quit;
            const std::string error = waiting.quit ? "" : "no answer from the run";
            if (waiting.done) net::post(context_, [done = std::move(waiting.done), error] { done(error); });
        }
        questions_.clear();
        output_.clear();
        input_.clear();
        skipping_ = false;
        status_out_ = schedule_out_ = false;
        schedule_due_ = true;
        bool ended = false;
        {
            std::lock_guard lock(shared_.mutex);
            if (quit_asked) shared_.view.ended = true;
            ended = shared_.view.ended;
            shared_.page_json = web_page_json(shared_.view);
        }
        if (!ended) set_lost(true);
    }

    shared_state& shared_;
    control_channel& channel_;
    std::string address_;
    bool private_folder_;
    net::io_context& context_;
    std::unique_ptr<control_connection> connection_;
    std::string output_;
    std::string input_;
    bool skipping_ = false;
    std::deque<question> questions_;
    bool status_due_ = true, status_out_ = false;
    bool schedule_due_ = true, schedule_out_ = false;
    int64_t status_ms_ = 0;
    int failed_tries_ = 0;
};

// What every connection's requests are checked against.
struct server_state {
    shared_state& shared;
    std::string key;
    web_host_names names;
    wrong_key_delay delay;
    size_t connections = 0;
};

const char* const refusal_page =
    "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>tonquel</title></head>"
    "<body><h1>This page needs its key</h1><p>Open the address that tonquel printed on its standard error "
    "when the run started: <code>http://HOST:PORT/?key=KEY</code>. The key is kept in the file web-key "
    "among tonquel's settings.</p></body></html>\n";

class session : public std::enable_shared_from_this<session> {
public:
    session(tcp::socket socket, server_state& server)
        : stream_(std::move(socket)), server_(server), timer_(stream_.get_executor()) {
        ++server_.connections;
        beast::error_code error;
        const tcp::endpoint local = stream_.socket().local_endpoint(error);
        if (!error) reached_ = local.address().to_string();
        const tcp::endpoint remote = stream_.socket().remote_endpoint(error);
        if (!error) client_ = remote.address().to_string();
    }
    ~session() {
        --server_.connections;
        answered();
    }

    void start() { read(); }

private:
    using response = http::response<http::string_body>;

    void read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(web_longest_head));
        parser_->body_limit(web_longest_body);
        // The whole request within the limit, however slowly it trickles.
        stream_.expires_after(std::chrono::milliseconds(web_request_ms));
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, size_t) { self->on_read(error); });
    }

    void on_read(beast::error_code error) {
        if (error == http::error::end_of_stream || error == beast::error::timeout || error == net::error::eof ||
            error == net::error::operation_aborted || error == net::error::connection_reset)
            return close();
        if (error == http::error::body_limit) return refuse(http::status::payload_too_large, "request too large\n");
        if (error == http::error::header_limit || error == http::error::buffer_overflow)
            return refuse(http::status::request_header_fields_too_large, "request head too large\n");
        if (error) return refuse(http::status::bad_request, "not an HTTP request\n");
        handle(parser_->get());
    }

    void refuse(http::status status, const char* why) {
        keep_alive_ = false;
        send(text_response(status, why, "text/plain; charset=utf-8", 11));
    }

    response text_response(http::status status, std::string body, const char* type, unsigned version) {
        response out{status, version};
        out.set(http::field::server, "tonquel");
        out.set(http::field::content_type, type);
        out.set(http::field::cache_control, "no-store");
        out.set("X-Content-Type-Options", "nosniff");
        out.set("X-Frame-Options", "DENY");
        out.set("Referrer-Policy", "no-referrer");
        out.body() = std::move(body);
        out.prepare_payload();
        return out;
    }

    void handle(const http::request<http::string_body>& request) {
        keep_alive_ = request.keep_alive();
        version_ = request.version();
        const std::string target(request.target());
        const std::string host(request[http::field::host]);
        web_host_names names = server_.names;
        names.reached = reached_;
        if (!host_allowed(host, names))
            return answer(http::status::forbidden, "this server answers only at its own address\n", "text/plain");
        const std::string in_target = key_in_target(target);
        const std::string in_cookie = key_in_cookie(std::string(request[http::field::cookie]));
        const std::string& given = !in_target.empty() ? in_target : in_cookie;
        if (given.empty()) return answer(http::status::forbidden, refusal_page, "text/html; charset=utf-8");
        const int64_t now = now_ms();
        const int64_t turn = server_.delay.turn(client_, now);
        if (turn < 0) {
            return answer(http::status::too_many_requests, "too many wrong keys: one try a second\n",
                          "text/plain");
        }
        // The request is kept for its turn.
        request_ = request;
        from_target_ = !in_target.empty();
        given_ = given;
        if (turn == now) return decide();
        timer_.expires_after(std::chrono::milliseconds(turn - now));
        timer_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error) self->decide();
        });
    }

    void decide() {
        if (!same_key(given_, server_.key)) {
            server_.delay.wrong(client_, now_ms());
            return answer(http::status::forbidden, refusal_page, "text/html; charset=utf-8");
        }
        server_.delay.right(client_);
        const std::string_view path = target_path(view_of(request_.target()));
        if (from_target_) {
            // The key goes into the cookie and out of the address bar.
            response out = text_response(http::status::see_other, "", "text/plain", version_);
            out.set(http::field::location, "/");
            out.set(http::field::set_cookie, key_cookie(server_.key));
            return send(std::move(out));
        }
        if (request_.method() == http::verb::get) {
            if (path == "/") {
                response out = text_response(http::status::ok, std::string(web_page_html, web_page_size),
                                             "text/html; charset=utf-8", version_);
                out.set("Content-Security-Policy",
                        "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                        "connect-src 'self'; frame-ancestors 'none'; form-action 'none'");
                return send(std::move(out));
            }
            if (path == "/state") {
                std::string json;
                {
                    std::lock_guard lock(server_.shared.mutex);
                    json = server_.shared.page_json;
                    server_.shared.last_poll_ms = now_ms();
                    if (server_.shared.view.ended) server_.shared.end_served = true;
                }
                return answer(http::status::ok, std::move(json), "application/json");
            }
            return answer(http::status::not_found, "no such page\n", "text/plain");
        }
        if (request_.method() != http::verb::post)
            return answer(http::status::method_not_allowed, "GET or POST only\n", "text/plain");
        // A page of another site may post here with the cookie in older
        // browsers; its Origin gives it away.
        if (!origin_allowed(view_of(request_[http::field::origin]), view_of(request_[http::field::host])))
            return answer(http::status::forbidden, "commands come from the page itself\n", "text/plain");
        const std::string line = web_command_line(path);
        if (line.empty()) return answer(http::status::not_found, "no such command\n", "text/plain");
        std::lock_guard lock(server_.shared.mutex);
        if (server_.shared.commands.size() >= web_most_commands || server_.shared.view.ended)
            return answer(http::status::service_unavailable, web_reply_json("the run takes no more commands now"),
                          "application/json");
        ++server_.shared.answers_due;
        answer_due_ = true;
        server_.shared.commands.push_back({line, [self = shared_from_this()](const std::string& error) {
                                               self->answer(http::status::ok, web_reply_json(error),
                                                            "application/json");
                                           }});
    }

    void answer(http::status status, std::string body, const char* type) {
        send(text_response(status, std::move(body), type, version_));
    }

    void send(response out) {
        out.keep_alive(keep_alive_);
        auto message = std::make_shared<response>(std::move(out));
        stream_.expires_after(std::chrono::milliseconds(web_request_ms));
        http::async_write(stream_, *message, [self = shared_from_this(), message](beast::error_code error, size_t) {
            self->answered();
            if (error || !self->keep_alive_) return self->close();
            self->read();
        });
    }

    void answered() {
        if (!answer_due_) return;
        answer_due_ = false;
        std::lock_guard lock(server_.shared.mutex);
        --server_.shared.answers_due;
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    server_state& server_;
    net::steady_timer timer_;
    beast::flat_buffer buffer_{web_longest_head + web_longest_body};
    std::optional<http::request_parser<http::string_body>> parser_;
    http::request<http::string_body> request_;
    std::string reached_, client_, given_;
    bool from_target_ = false;
    bool answer_due_ = false;
    bool keep_alive_ = false;
    unsigned version_ = 11;
};

// In this order, so that the sessions the context still holds go before
// what they point to.
struct web_server {
    shared_state shared;
    server_state server{shared, {}, {}, {}, 0};
    net::io_context context{1};
    tcp::acceptor acceptor{context};
    std::unique_ptr<run_link> link;
    std::thread http_thread;
    std::thread control_thread;

    void accept() {
        acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
            if (error == net::error::operation_aborted) return;
            if (!error) {
                // Beyond the limit a connection is closed at once: the
                // idle ones go within 2 s and make room.
                if (server.connections >= web_most_connections) {
                    beast::error_code ignored;
                    socket.close(ignored);
                } else {
                    std::make_shared<session>(std::move(socket), server)->start();
                }
            }
            accept();
        });
    }
};

std::unique_ptr<web_server> running;

// The address a browser on the LAN reaches this machine at: the one the
// system would send from towards the internet (no packet is sent).
std::string lan_address(bool v6) {
    try {
        net::io_context context;
        net::ip::udp::socket probe(context);
        probe.connect(net::ip::udp::endpoint(net::ip::make_address(v6 ? "2001:db8::1" : "192.0.2.1"), 9));
        return probe.local_endpoint().address().to_string();
    } catch (const std::exception&) {
        return "";
    }
}

std::string url_host(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

void stop_web(bool wait_for_page) {
    if (!running) return;
    if (wait_for_page) {
        // A page that polls is given the time to see that the run ended.
        const int64_t until = now_ms() + end_shown_ms;
        while (now_ms() < until) {
            {
                std::lock_guard lock(running->shared.mutex);
                const bool page_open =
                    running->shared.last_poll_ms >= 0 && now_ms() - running->shared.last_poll_ms < page_seen_ms;
                const bool page_done = !page_open || (running->shared.view.ended && running->shared.end_served);
                if (page_done && running->shared.answers_due == 0) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    {
        std::lock_guard lock(running->shared.mutex);
        running->shared.stopping = true;
    }
    running->context.stop();
    if (running->http_thread.joinable()) running->http_thread.join();
    if (running->control_thread.joinable()) running->control_thread.join();
    running->link.reset();
    running->shared.commands.clear();
    running.reset();
}

const release_step web_release{release_order::web, [] { stop_web(true); }, [] { stop_web(false); }};

[[noreturn]] void web_failure(const std::string& what) {
    log_err("%s: --web: %s\n", program_name, what.c_str());
    cleanup_and_exit(1);
}

}  // namespace

void start_web() {
    const std::string given = settings.web_address != nullptr ? settings.web_address : web_default_address;
    std::string host;
    uint16_t port = 0;
    if (!split_web_address(given, host, port).empty()) web_failure(given + ": not ADDRESS:PORT");
    bool private_folder = false;
    const std::string control_address = control_listening_address(private_folder);
    if (control_address.empty()) web_failure("the run does not listen on the control channel");
    std::string error;
    const std::string key = current_platform->key_files.key("web-key", error, key_folder::roaming);
    if (key.empty()) web_failure(error);

    auto server = std::make_unique<web_server>();
    try {
        const tcp::endpoint endpoint(net::ip::make_address(host), port);
        server->acceptor.open(endpoint.protocol());
#ifdef _WIN32
        // Another program may not take the port from under this one.
        server->acceptor.set_option(net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true));
#else
        server->acceptor.set_option(tcp::acceptor::reuse_address(true));
#endif
        if (endpoint.address().is_v6()) server->acceptor.set_option(net::ip::v6_only(true));
        server->acceptor.bind(endpoint);
        server->acceptor.listen(net::socket_base::max_listen_connections);
    } catch (const boost::system::system_error& failure) {
        web_failure(given + ": " + failure.code().message());
    }
    server->server.key = key;
    server->server.names.listening = host;
    server->server.names.port = port;
    beast::error_code ignored;
    server->server.names.machine = net::ip::host_name(ignored);

    std::string shown = host;
    if (host == "0.0.0.0" || host == "::") {
        shown = lan_address(host == "::");
        if (shown.empty()) shown = server->server.names.machine;
    }
    err_printf("http://%s:%u/?key=%s\n", url_host(shown).c_str(), static_cast<unsigned>(port), key.c_str());

    server->link = std::make_unique<run_link>(server->shared, current_platform->control, control_address,
                                              private_folder, server->context);
    web_server* started = server.get();
    running = std::move(server);
    started->accept();
    started->http_thread = std::thread([started] {
        lower_thread_priority();
        // A failure inside a handler ends only the page, never the run.
        while (true) {
            try {
                started->context.run();
                return;
            } catch (const std::exception&) {
            }
        }
    });
    started->control_thread = std::thread([started] {
        lower_thread_priority();
        try {
            started->link->run();
        } catch (const std::exception&) {
        }
    });
}
