#include "engine/control/control.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/control/control_protocol.h"
#include "engine/clock/passes.h"
#include "engine/status/status_line.h"
#include "engine/clock/time_of_day.h"
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
// What may wait for a client that does not read before it is dropped: the
// events it observes pile up so. A reply waits no more than a piece.
constexpr size_t most_waiting = 1024 * 1024;
// A client's next line is answered, or its long reply written on, only once
// less than this waits for it: one that does not read holds up only itself.
constexpr size_t piece_bytes = 64 * 1024;
// The real time the control work of one poll may take; what is left waits
// for the next. The smooth player has only 60 ms of sound queued, the
// classic one two seconds.
constexpr std::chrono::microseconds smooth_budget{2000};
constexpr std::chrono::microseconds classic_budget{10000};
// A client that has sent no whole line and taken nothing for this long is
// closed, unless it observes and nothing waits for it.
constexpr int64_t idle_limit_ms = 10000;

struct control_client {
    std::unique_ptr<control_connection> connection;
    std::string input;    // what arrived; its first `answered` bytes are done with
    size_t answered = 0;
    std::optional<control_request> held;  // waits for a step whose key is free
    std::string output;   // what waits to be sent
    std::optional<schedule_reply> reply;  // being written as the client takes it
    std::string events;   // observed while a reply was written: they follow it
    int64_t heard_ms = 0;  // its last whole line answered, or output taken
    bool observing = false;
    bool hung_up = false;  // its end is closed; what it sent is still answered
    bool dropped = false;
};

std::unique_ptr<control_listener> listener;
std::string listening_address;
bool listening_private = false;
std::vector<control_client> clients;
// Whose turn comes first in the next step: the clients take turns across
// steps, so that a flood from some never starves the others.
size_t next_turn = 0;
// What the wait for --at's time told last.
struct {
    int start_at = -1;
    int64_t seconds_left = 0;
} start;

int64_t now_ms() {
    return current_platform->clock.monotonic_ms();
}

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
    case control_command::pause:
    case control_command::toggle: return 'p';
    case control_command::quit: return key_quit;
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
    while (!client.output.empty() && !client.dropped) {
        const long sent = client.connection->send(client.output.data(), client.output.size());
        if (sent < 0) client.dropped = true;
        if (sent <= 0) break;
        client.output.erase(0, static_cast<size_t>(sent));
        client.heard_ms = now_ms();
    }
    if (client.output.size() + client.events.size() > most_waiting) client.dropped = true;
}

void send_to(control_client& client, const std::string& line) {
    if (client.dropped) return;
    client.output += line;
    send_waiting(client);
}

// Takes in no more than a line's longest length at a time, so that nobody's
// input piles up in the run.
void receive_from(control_client& client) {
    client.input.erase(0, client.answered);
    client.answered = 0;
    // A line's length at a time: on a named pipe each read is a call to the
    // system that costs the step.
    static char buffer[longest_line];
    while (!client.hung_up && client.input.size() <= longest_line) {
        const long got = client.connection->receive(buffer, sizeof buffer);
        if (got < 0) client.hung_up = true;
        if (got <= 0) return;
        client.input.append(buffer, static_cast<size_t>(got));
    }
}

// A client that hung up is kept until what it sent is answered and sent.
void drop_if_done(control_client& client) {
    if (client.hung_up && !client.held && !client.reply && client.output.empty() &&
        client.input.find('\n', client.answered) == std::string::npos)
        client.dropped = true;
}

void close_if_idle(control_client& client, int64_t now) {
    if (client.dropped || now - client.heard_ms < idle_limit_ms) return;
    if (client.observing && client.output.empty() && !client.reply) return;
    client.dropped = true;
}

void drop_clients() {
    std::erase_if(clients, [](const control_client& client) { return client.dropped; });
}

// Clients that hung up since the last step make room before anyone is
// turned away.
void notice_hang_ups() {
    for (control_client& client : clients) {
        receive_from(client);
        send_waiting(client);
        drop_if_done(client);
    }
    drop_clients();
}

// Until the step's time is up: a flood of connections waits in the
// channel's queue like any other.
void accept_clients(std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline) {
        control_client_connection arrived = listener->accept();
        if (!arrived.connection) return;
        if (!arrived.same_user) {
            turn_away(*arrived.connection, "only the user who started the run may control it");
            continue;
        }
        if (clients.size() >= most_clients) notice_hang_ups();
        if (clients.size() >= most_clients) {
            turn_away(*arrived.connection, "too many clients: at most 16 at once");
            continue;
        }
        control_client& client = clients.emplace_back();
        client.connection = std::move(arrived.connection);
        client.heard_ms = now_ms();
    }
}

void write_reply(control_client& client) {
    if (client.reply->write(fdt, num_fdt, piece_bytes, client.output)) {
        client.reply.reset();
        client.output += client.events;
        client.events.clear();
    }
    send_waiting(client);
}

// One step's poll, as the run stands.
struct control_step {
    run_phase phase;
    int64_t part_elapsed;
    bool key_free;  // no key pressed or commanded yet in this step
    int key = key_none;

    std::string status_data() const {
        const status_fields fields = status_line_fields(part_elapsed);
        control_status status{phase_name(phase),          fields.frequency_hz, fields.total_seconds,
                              fields.elapsed_seconds,     fields.tone_number,  fields.tone_count,
                              fields.schedule_left_seconds};
        const bool waiting = phase == run_phase::waiting_to_start && start.start_at >= 0;
        const std::string starts_at = waiting ? time_of_day_text(start.start_at) : "";
        if (waiting) {
            status.starts_at = starts_at.c_str();
            status.starts_in = start.seconds_left;
        }
        status.pass = pass_playing();
        status.passes = passes_of_run();
        const std::string stops_at = settings.stop_at >= 0 ? time_of_day_text(settings.stop_at) : "";
        if (settings.stop_at >= 0) status.stops_at = stops_at.c_str();
        return control_status_data(status);
    }

    void begin_schedule(control_client& client, const std::string& request_id) const {
        // Before the first tone, the whole schedule is still to come.
        uint32_t first = phase == run_phase::waiting_to_start || fdt_pos == before_first_entry ? 0 : fdt_pos;
        if (first > num_fdt) first = num_fdt;
        client.reply.emplace(request_id, first, num_fdt);
        write_reply(client);
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
            begin_schedule(client, request.request_id);
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
        case control_command::pause:
            // A pause goes on.
            if (phase == run_phase::paused) {
                send_to(client, control_success(request.request_id));
                return true;
            }
            break;
        default:
            break;
        }
        const int code = key_of(request.command);
        if (phase == run_phase::waiting_to_start && code != key_quit) {
            send_to(client, control_failure(request.request_id,
                                            start_wait_refusal(control_command_name(request.command))));
            return true;
        }
        return act(client, request, code);
    }

    // Answered before the key acts: quit does not come back.
    bool act(control_client& client, const control_request& request, int code) {
        if (!key_free) return false;
        key_free = false;
        key = code;
        send_to(client, control_success(request.request_id));
        return true;
    }

    void refuse_long_line(control_client& client) {
        send_to(client, control_failure("", "line longer than 64 KiB"));
        client.dropped = true;
    }

    // The client's turn: a piece of its reply, or its next line. False when
    // it has nothing to do now.
    bool take_turn(control_client& client) {
        if (client.dropped || client.output.size() >= piece_bytes) return false;
        if (client.reply) {
            write_reply(client);
            return true;
        }
        size_t end = client.input.find('\n', client.answered);
        // What arrives is taken in the client's own turn, so that its cost
        // is bounded with the rest.
        if (end == std::string::npos) {
            receive_from(client);
            end = client.input.find('\n');
        }
        const size_t length = (end == std::string::npos ? client.input.size() : end) - client.answered;
        if (length > longest_line) {
            refuse_long_line(client);
            return false;
        }
        if (end == std::string::npos) return false;
        std::string_view line(client.input.data() + client.answered, length);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") != std::string_view::npos) {
            if (!client.held) client.held = parse_control_request(line);
            if (!answer(client, *client.held)) return false;
            client.held.reset();
        }
        client.answered = end + 1;
        client.heard_ms = now_ms();
        return true;
    }

    // Turns until every client has nothing to do or the time is up.
    void serve(std::chrono::steady_clock::time_point deadline) {
        size_t resting = 0;
        while (resting < clients.size()) {
            if (next_turn >= clients.size()) next_turn = 0;
            resting = take_turn(clients[next_turn]) ? 0 : resting + 1;
            ++next_turn;
            if (std::chrono::steady_clock::now() >= deadline) return;
        }
    }
};

void tell_observers(const std::string& line) {
    for (control_client& client : clients) {
        if (!client.observing) continue;
        if (client.reply) client.events += line;
        else send_to(client, line);
    }
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
    listening_address.clear();
    listening_private = false;
    next_turn = 0;
    start = {};
}};

std::string random_name() {
    std::random_device source;
    std::string name;
    static constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 4; ++i) {
        const uint32_t bits = source();
        for (int shift = 0; shift < 32; shift += 4) name += digits[(bits >> shift) & 15];
    }
    return name;
}

}  // namespace

void start_control() {
    control_channel& channel = current_platform->control;
    const bool named = settings.control && settings.control_address != nullptr;
    std::string error;
    std::string address = named ? channel.named_address(settings.control_address) : channel.default_address(error);
    // Beside the default place, so that it is as private; a name no one
    // can guess, so that another run's page never finds this one.
    if (!settings.control && !address.empty()) address += "-web-" + random_name();
    if (!address.empty()) listener = channel.listen(address, !named, error);
    if (listener) {
        listening_address = address;
        listening_private = !named;
        return;
    }
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

std::string control_listening_address(bool& private_folder) {
    private_folder = listening_private;
    return listening_address;
}

int poll_keys_and_control(run_phase phase, int64_t part_elapsed) {
    const int pressed = poll_console_key();
    if (!listener) return pressed;
    const auto deadline = std::chrono::steady_clock::now() + (settings.smooth ? smooth_budget : classic_budget);
    accept_clients(deadline);
    // What waits goes out on every step, whatever else comes.
    for (control_client& client : clients) send_waiting(client);
    control_step step{phase, part_elapsed, pressed == key_none};
    step.serve(deadline);
    const int64_t now = now_ms();
    for (control_client& client : clients) {
        drop_if_done(client);
        close_if_idle(client, now);
    }
    drop_clients();
    return pressed != key_none ? pressed : step.key;
}

int control_wait_handles(std::vector<wait_handle>& handles) {
    if (!listener) return -1;
    // A channel that cannot be waited on is looked at as often as a short
    // queue's blocks come back anyway.
    constexpr int look_ms = 25;
    int limit = -1;
    auto add = [&](const wait_handle& handle) {
        if (handle.empty()) limit = limit < 0 ? look_ms : std::min(limit, look_ms);
        else handles.push_back(handle);
    };
    add(listener->ready_handle());
    for (const control_client& client : clients) {
        const bool room = client.output.size() < piece_bytes;
        const bool line_waits = client.input.find('\n', client.answered) != std::string::npos;
        if (room && (client.held || client.reply || line_waits)) limit = 0;
        // One that does not read its replies is not read either (its turn
        // waits for room): the wait then wakes only when it takes some.
        if (room && !client.hung_up) add(client.connection->ready_handle(false));
        if (!client.output.empty()) add(client.connection->ready_handle(true));
    }
    return limit;
}

void tell_control_start_wait(int start_at, int64_t seconds_left) {
    start = {start_at, seconds_left};
}

std::string start_wait_refusal(const std::string& what) {
    return "the run waits to start at " + time_of_day_text(start.start_at) + ": " + what + " acts once it plays";
}

void tell_control_entry_inserted(uint32_t index) {
    for (control_client& client : clients)
        if (client.reply) client.reply->entry_inserted(index);
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
