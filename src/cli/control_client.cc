#include "cli/control_client.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "engine/control/control_protocol.h"
#include "log/log.h"
#include "process/exit.h"
#include "process/state.h"

namespace {

// A run answers within a poll step; one that is opening a frozen device
// takes seconds. The wait counts from the last byte that came, so that a
// reply of many megabytes may take longer.
constexpr int answer_wait_ms = 10000;
constexpr int wait_step_ms = 100;
// A run takes a client within a step unless its queue is full: a flood, or
// a program that listens there and never takes anyone.
constexpr int connect_wait_ms = 3000;
constexpr int connect_retry_ms = 20;
// The longest line taken from the run: the reply of a schedule of a million
// entries is about 31 MB; a line without end must not take all memory (a
// Raspberry Pi has 1 GB).
constexpr size_t longest_answer = size_t{256} << 20;

bool is_option(const char* argument, const char* name) {
    const size_t length = strlen(name);
    return strncmp(argument, name, length) == 0 && (argument[length] == '\0' || argument[length] == '=');
}

// The value after "=", or nullptr.
const char* attached_value(const char* argument) {
    const char* equals = strchr(argument, '=');
    return equals != nullptr ? equals + 1 : nullptr;
}

struct send_request {
    bool control_given = false;
    const char* address = nullptr;  // nullptr: the default place
    const char* command = nullptr;
    const char* argument = nullptr;
};

send_request read_send_line(int argc, char** argv) {
    send_request request;
    int i = 1;
    auto take_control = [&] {
        if (i >= argc || !is_option(argv[i], "--control")) return;
        if (request.control_given) cleanup_and_exit(usage());
        request.control_given = true;
        request.address = attached_value(argv[i++]);
        if (request.address != nullptr && request.address[0] == '\0') cleanup_and_exit(usage());
    };
    take_control();
    request.command = attached_value(argv[i++]);
    if (request.command == nullptr) request.command = i < argc ? argv[i++] : "";
    if (request.command[0] == '\0') cleanup_and_exit(usage());
    if (i < argc && !is_option(argv[i], "--control")) request.argument = argv[i++];
    take_control();
    if (i < argc) cleanup_and_exit(usage());
    return request;
}

void print_line(const std::string& line) {
    fprintf(out_stream, "%s\n", line.c_str());
    fflush(out_stream);
}

// Talks to the run over one connection until the exchange is over.
struct exchange {
    control_connection& connection;
    const std::string& address;
    bool observing = false;
    bool answered = false;
    std::string input;
    size_t scanned = 0;  // of input: no line end before this

    // The status once the exchange is over, else -1.
    int take(std::string_view line) {
        const control_answer answer = read_control_answer(line);
        if (answer.type == control_answer::kind::unreadable) {
            err_printf("%s: %s: the run's answer cannot be read: %s\n", program_name, address.c_str(),
                       answer.problem.c_str());
            return 1;
        }
        if (answered) {
            if (answer.type == control_answer::kind::event) print_line(std::string(line));
            return -1;
        }
        if (answer.type != control_answer::kind::reply) return -1;
        answered = true;
        if (!answer.success) {
            err_printf("%s: %s\n", program_name, answer.error.c_str());
            return 1;
        }
        if (!answer.data.empty()) print_line(answer.data);
        return observing ? -1 : 0;
    }

    // The whole lines that came, each looked for once, so that a reply of
    // many megabytes arriving in small pieces costs its length, not its
    // length times the pieces.
    int take_lines() {
        size_t start = 0;
        int status = -1;
        for (size_t end; status < 0 && (end = input.find('\n', scanned)) != std::string::npos;) {
            status = take(std::string_view(input).substr(start, end - start));
            start = scanned = end + 1;
        }
        input.erase(0, start);
        scanned = input.size();
        return status;
    }

    int too_long() {
        err_printf("%s: %s: the run's answer is longer than %d MiB\n", program_name, address.c_str(),
                   static_cast<int>(longest_answer >> 20));
        return 1;
    }

    int run() {
        int silent_ms = 0;
        for (;;) {
            char buffer[65536];
            const long got = connection.receive(buffer, sizeof buffer);
            if (got < 0) {
                // An observed run that ended; or one that went before it answered.
                if (answered) return 0;
                err_printf("%s: %s: the run went away without answering\n", program_name, address.c_str());
                return 1;
            }
            if (got > 0) {
                silent_ms = 0;
                // Looked at before the buffer grows, so that it never holds
                // much more than the longest line.
                if (input.size() + static_cast<size_t>(got) > longest_answer) return too_long();
                input.append(buffer, static_cast<size_t>(got));
                if (const int status = take_lines(); status >= 0) return status;
                check_interrupt();
                continue;
            }
            if (!answered && silent_ms >= answer_wait_ms) {
                err_printf("%s: %s: the run did not answer within %d seconds\n", program_name, address.c_str(),
                           answer_wait_ms / 1000);
                return 1;
            }
            // The wait ends at once on a signal: Ctrl-C and termination act
            // without delay.
            if (!connection.wait_for_input(wait_step_ms)) silent_ms += wait_step_ms;
            check_interrupt();
        }
    }
};

bool send_all(control_connection& connection, const std::string& line) {
    for (size_t sent = 0; sent < line.size();) {
        const long taken = connection.send(line.data() + sent, line.size() - sent);
        if (taken < 0) return false;
        if (taken == 0) current_platform->clock.sleep_ms(10);
        check_interrupt();
        sent += static_cast<size_t>(taken);
    }
    return true;
}

// The connection, or the end of the run with its message. A run whose queue
// is full is tried again for a while, in steps that Ctrl-C ends.
std::unique_ptr<control_connection> reach_run(control_channel& channel, const std::string& address,
                                              bool private_folder) {
    clock_source& clock = current_platform->clock;
    const int64_t since = clock.monotonic_ms();
    for (;;) {
        control_reach reach = channel.connect(address, private_folder);
        if (reach.connection) return std::move(reach.connection);
        if (!reach.error.empty()) {
            err_printf("%s: %s\n", program_name, reach.error.c_str());
            cleanup_and_exit(1);
        }
        if (!reach.busy) {
            err_printf("%s: no run answers at %s\n", program_name, address.c_str());
            cleanup_and_exit(1);
        }
        if (clock.monotonic_ms() - since >= connect_wait_ms) {
            err_printf("%s: %s: the run takes no client within %d seconds (its queue is full)\n", program_name,
                       address.c_str(), connect_wait_ms / 1000);
            cleanup_and_exit(1);
        }
        clock.sleep_ms(connect_retry_ms);
        check_interrupt();
    }
}

}  // namespace

bool asks_to_send(int argc, char** argv) {
    int i = 1;
    if (i < argc && is_option(argv[i], "--control")) ++i;
    return i < argc && is_option(argv[i], "--send");
}

int send_control_command(int argc, char** argv) {
    const send_request request = read_send_line(argc, argv);
    control_channel& channel = current_platform->control;
    const bool named = request.address != nullptr;
    std::string error;
    const std::string address = named ? channel.named_address(request.address) : channel.default_address(error);
    if (address.empty()) {
        err_printf("%s: %s\n", program_name, error.c_str());
        return 1;
    }
    const std::unique_ptr<control_connection> connection = reach_run(channel, address, !named);
    if (!send_all(*connection, control_request_line(request.command, request.argument))) {
        err_printf("%s: %s: the run went away without answering\n", program_name, address.c_str());
        return 1;
    }
    exchange talk{*connection, address, strcmp(request.command, "observe") == 0, false, "", 0};
    return talk.run();
}
