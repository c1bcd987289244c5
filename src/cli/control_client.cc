#include "cli/control_client.h"

#include <cstring>
#include <memory>
#include <string>

#include "cli/options.h"
#include "engine/control_protocol.h"
#include "log/log.h"
#include "process/exit.h"
#include "process/state.h"

namespace {

// A run answers within a poll step; one that is opening a frozen device
// takes seconds.
constexpr int64_t answer_wait_seconds = 10;
constexpr int wait_step_ms = 100;

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

    // The status once the exchange is over, else -1.
    int take(const std::string& line) {
        const control_answer answer = read_control_answer(line);
        if (answered) {
            if (answer.type == control_answer::kind::event) print_line(line);
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

    int run() {
        clock_source& clock = current_platform->clock;
        const int64_t asked = clock.now_seconds();
        for (;;) {
            char buffer[4096];
            const long got = connection.receive(buffer, sizeof buffer);
            if (got < 0) {
                // An observed run that ended; or one that went before it answered.
                if (answered) return 0;
                err_printf("%s: %s: the run went away without answering\n", program_name, address.c_str());
                return 1;
            }
            input.append(buffer, static_cast<size_t>(got));
            for (size_t end; (end = input.find('\n')) != std::string::npos;) {
                const int status = take(input.substr(0, end));
                input.erase(0, end + 1);
                if (status >= 0) return status;
            }
            if (got > 0) continue;
            if (!answered && clock.now_seconds() - asked > answer_wait_seconds) {
                err_printf("%s: %s: the run did not answer within %lld seconds\n", program_name, address.c_str(),
                           static_cast<long long>(answer_wait_seconds));
                return 1;
            }
            connection.wait_for_input(wait_step_ms);
            check_interrupt();
        }
    }
};

bool send_all(control_connection& connection, const std::string& line) {
    for (size_t sent = 0; sent < line.size();) {
        const long taken = connection.send(line.data() + sent, line.size() - sent);
        if (taken < 0) return false;
        if (taken == 0) current_platform->clock.sleep_ms(10);
        sent += static_cast<size_t>(taken);
    }
    return true;
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
    const std::string address =
        request.address != nullptr ? channel.named_address(request.address) : channel.default_address();
    std::string error;
    const std::unique_ptr<control_connection> connection = channel.connect(address, error);
    if (!connection) {
        if (error.empty()) err_printf("%s: no run answers at %s\n", program_name, address.c_str());
        else err_printf("%s: %s\n", program_name, error.c_str());
        return 1;
    }
    if (!send_all(*connection, control_request_line(request.command, request.argument))) {
        err_printf("%s: %s: the run went away without answering\n", program_name, address.c_str());
        return 1;
    }
    exchange talk{*connection, address, strcmp(request.command, "observe") == 0, false, ""};
    return talk.run();
}
