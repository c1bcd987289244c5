#pragma once

// --send: one command to the run that answers on the control channel.

// Whether the command line is [--control[=PATH]] --send ...
bool asks_to_send(int argc, char** argv);

// Reads [--control[=PATH]] --send COMMAND [ARGUMENT] [--control[=PATH]],
// sends the command and prints what the run returns as one JSON line on
// standard output; observe prints the run's events, one a line, until it
// ends. Returns the exit status: 0, or 1 when the run answers with an error
// or none answers. Anything else on the line is a usage error.
int send_control_command(int argc, char** argv);
