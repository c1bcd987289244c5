#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wait_handle.h"

// Control from outside (--control): while the run plays it answers its
// clients on the control channel (engine/control_protocol.h): what plays,
// the schedule, commands that act as the keys do, and events for the clients
// that observe. The channel is polled where the keys are, never waited on,
// so that no client can delay the sound.

// What the run is doing while it polls; the code that waits sets it.
enum class run_phase { playing, paused, waiting_for_device, waiting_to_start };

// What a resume command gives the pause that polls: like any key it ends the
// pause, and it does nothing else.
constexpr int key_resume = INT_MIN + 2;
// What a quit command gives wherever the run stands: it ends the run as q
// does while a tone plays, also in a pause, which the q key only ends.
constexpr int key_quit = INT_MIN + 3;

// Starts answering at the place --control names, before anything is created
// or sounds; with --web alone, at a private place of a random name that only
// the page's server knows. A place that cannot be had ends the run with
// status 1.
void start_control();
// Where the run answers, for a client within this process: the address,
// and whether it lies in the private folder; empty when it does not listen.
std::string control_listening_address(bool& private_folder);

// The key pressed; without one, the key that a client's command stands for
// (one a step). Answers the clients' other requests meanwhile, as of
// part_elapsed seconds into the part that plays, for a bounded real time:
// what is left waits for the next step, the clients taking turns.
int poll_keys_and_control(run_phase phase, int64_t part_elapsed);

// For the one wait of a player: adds what wakes it for the control channel
// (the listener; each client, to read, and to write while output waits for
// it). Returns how long the wait may sleep at most: 0 while work is left over
// from a step that ran out of time, a short look where the channel cannot be
// waited on, -1 when it sets no limit.
int control_wait_handles(std::vector<wait_handle>& handles);

// While the run waits to start (--at): the time of day it starts at, in
// seconds from midnight, and the seconds until then, which status tells.
void tell_control_start_wait(int start_at, int64_t seconds_left);
// What a key or a command that acts on the playing tone gets meanwhile:
// "the run waits to start at 23:00:00: skip acts once it plays".
std::string start_wait_refusal(const std::string& what);

// A tone was inserted into the schedule at index while the run plays: the
// schedule replies being written follow it.
void tell_control_entry_inserted(uint32_t index);

// What the observing clients hear of. The end of the run is told by the
// release step, with its exit status.
enum class run_event { pause, resume, device_lost, device_back };
void tell_control_clients(run_event event);
void tell_control_clients_tone_start(double frequency, int duration);
