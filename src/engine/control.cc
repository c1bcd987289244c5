#include "engine/control.h"

#include <memory>
#include <string>
#include <vector>

#include "engine/control_protocol.h"
#include "engine/status_line.h"
#include "log/log.h"
#include "platform/key_source.h"
#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"
#include "process/state.h"
#include "schedule/fdt.h"

namespace {

constexpr size_t most_clients = 16;
constexpr size_t longest_line = 64 * 1024;
// What may wait for a client that does not read before it is dropped.
constexpr size_t most_waiting = 1024 * 1024;
// The lines answered for one client in one step: a flood costs the step a
// bounded time, and what it sends beyond waits in the channel.
constexpr int lines_per_step = 32;

struct control_client {
    std::unique_ptr<control_connection> connection;
    std::string input;   // what arrived and is not yet answered
    std::string output;  // what waits to be sent
    bool observing = false;
    bool hung_up = false;  // its end is closed; what it sent is still answered
    bool dropped = false;
};

std::unique_ptr<control_listener> listener;
std::vector<control_client> clients;

const char* phase_name(run_phase phase) {
    switch (phase) {
    case run_phase::playing: return "playing";
    case run_phase::paused: return "paused";
    case run_phase::waiting_for_device: return "waiting for device";
    case run_phase::waiting_to_start: return "waiting to start";
    }
    return "playing";
}

// What a command does when a key does the same.
int key_of(control_command command) {
    switch (command) {
    case control_command::skip: return 's';
    case control_command::back: return 'b';
    case control_command::pause: return 'p';
    case control_command::quit: return 'q';
    case control_command::add_above: return '+';
    case control_command::add_below: return '-';
    case control_command::nearby_coarse: return 'n';
    case control_command::nearby_fine: return 'N';
    default: return key_none;
    }
}

// A client refused at the door is told why, once, and never waited for.
void turn_away(control_connection& connection, const std::string& why) {
    const std::string line = control_failure("", why);
    connection.send(line.data(), line.size());
}

void send_waiting(control_client& client) {
    while (!client.output.empty()) {
        const long sent = client.connection->send(client.output.data(), client.output.size());
        if (sent < 0) client.dropped = true;
        if (sent <= 0) break;
        client.output.erase(0, static_cast<size_t>(sent));
    }
    if (client.output.size() > most_waiting) client.dropped = true;
}

void send_to(control_client& client, const std::string& line) {
    if (client.dropped) return;
    client.output += line;
    send_waiting(client);
}

void accept_clients() {
    for (;;) {
        control_client_connection arrived = listener->accept();
        if (!arrived.connection) return;
        if (!arrived.same_user)
            turn_away(*arrived.connection, "only the user who started the run may control it");
        else if (clients.size() >= most_clients)
            turn_away(*arrived.connection, "too many clients: at most 16 at once");
        else
            clients.emplace_back().connection = std::move(arrived.connection);
    }
}

// Takes in no more than a line's longest length at a time, so that nobody's
// input piles up in the run.
void receive_from(control_client& client) {
    char buffer[16 * 1024];
    while (!client.hung_up && client.input.size() <= longest_line) {
        const long got = client.connection->receive(buffer, sizeof buffer);
        if (got < 0) client.hung_up = true;
        if (got <= 0) return;
        client.input.append(buffer, static_cast<size_t>(got));
    }
}

// One step's poll, as the run stands.
struct control_step {
    run_phase phase;
    int64_t part_elapsed;
    bool key_free;  // no key pressed or commanded yet in this step
    int key = key_none;

    std::string status_data() const {
        const status_fields fields = status_line_fields(part_elapsed);
        return control_status_data({phase_name(phase), fields.frequency_hz, fields.total_seconds,
                                    fields.elapsed_seconds, fields.tone_number, fields.tone_count,
                                    fields.schedule_left_seconds});
    }

    std::string schedule_data() const {
        // Before the first tone, the whole schedule is still to come.
        uint32_t first = phase == run_phase::waiting_to_start || fdt_pos == before_first_entry ? 0 : fdt_pos;
        if (first > num_fdt) first = num_fdt;
        return control_schedule_data(fdt, first, num_fdt);
    }

    // False when the request must wait for the next step: a step acts on
    // one key only, as it does on the keyboard.
    bool answer(control_client& client, const control_request& request) {
        if (!request.error.empty()) {
            send_to(client, control_failure(request.request_id, request.error));
            return true;
        }
        switch (request.command) {
        case control_command::status:
            send_to(client, control_success(request.request_id, status_data()));
            return true;
        case control_command::schedule:
            send_to(client, control_success(request.request_id, schedule_data()));
            return true;
        case control_command::observe:
            client.observing = true;
            send_to(client, control_success(request.request_id));
            return true;
        case control_command::resume:
            // Nothing to resume unless paused.
            if (phase != run_phase::paused) {
                send_to(client, control_success(request.request_id));
                return true;
            }
            return act(client, request, key_resume);
        default:
            return act(client, request, key_of(request.command));
        }
    }

    // Answered before the key acts: quit does not come back.
    bool act(control_client& client, const control_request& request, int code) {
        if (!key_free) return false;
        key_free = false;
        key = code;
        send_to(client, control_success(request.request_id));
        return true;
    }

    void answer_lines(control_client& client) {
        size_t from = 0;
        for (int lines = 0; lines < lines_per_step; ++lines) {
            const size_t end = client.input.find('\n', from);
            if (end == std::string::npos) break;
            std::string_view line(client.input.data() + from, end - from);
            if (line.size() > longest_line) break;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.find_first_not_of(" \t") != std::string_view::npos &&
                !answer(client, parse_control_request(line)))
                break;
            from = end + 1;
        }
        client.input.erase(0, from);
        const size_t end = client.input.find('\n');
        if ((end == std::string::npos ? client.input.size() : end) > longest_line) {
            send_to(client, control_failure("", "line longer than 64 KiB"));
            client.dropped = true;
        }
        // A client that hung up is kept until what it sent is answered.
        if (client.hung_up && client.input.find('\n') == std::string::npos) client.dropped = true;
    }
};

void drop_clients() {
    std::erase_if(clients, [](const control_client& client) { return client.dropped; });
}

void tell_observers(const std::string& line) {
    for (control_client& client : clients)
        if (client.observing) send_to(client, line);
    drop_clients();
}

// The observers hear how the run ended, once everything else is closed;
// then the place is given up.
void stop_control() {
    if (listener) tell_observers(control_end_event(ending_status()));
    clients.clear();
    listener.reset();
}

const release_step control_release{release_order::control, stop_control, [] {
    clients.clear();
    listener.reset();
}};

}  // namespace

void start_control() {
    control_channel& channel = current_platform->control;
    const bool named = settings.control_address != nullptr;
    const std::string address =
        named ? channel.named_address(settings.control_address) : channel.default_address();
    std::string error;
    listener = channel.listen(address, !named, error);
    if (listener) return;
    log_err("%s: %s\n", program_name, error.c_str());
    cleanup_and_exit(1);
}

namespace {

// The next key press, or 0. A console that cannot be read ends the run.
int poll_console_key() {
    int code = current_platform->keys.poll_key();
    if (code == key_console_missing) {
        log_err("%s: GetStdHandle() failed\n", program_name);
        cleanup_and_exit(1);
    }
    if (code == key_read_failed) {
        log_err("%s: ReadConsoleInput() failed\n", program_name);
        cleanup_and_exit(1);
    }
    return code;
}

}  // namespace

int poll_keys_and_control(run_phase phase, int64_t part_elapsed) {
    const int pressed = poll_console_key();
    if (!listener) return pressed;
    accept_clients();
    control_step step{phase, part_elapsed, pressed == key_none};
    for (control_client& client : clients) {
        receive_from(client);
        step.answer_lines(client);
    }
    drop_clients();
    return pressed != key_none ? pressed : step.key;
}

void tell_control_clients(run_event event) {
    if (!listener) return;
    static constexpr const char* names[] = {"pause", "resume", "device-lost", "device-back"};
    tell_observers(control_event(names[static_cast<int>(event)]));
}

void tell_control_clients_tone_start(double frequency, int duration) {
    if (!listener) return;
    tell_observers(control_tone_event(frequency, duration, status_line_fields(0).tone_number));
}
