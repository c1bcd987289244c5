#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/wait_handle.h"

// The local channel on which a running schedule answers the programs that
// control it (--control), and through which --send reaches it: a Unix socket
// on Linux, a named pipe on Windows. The run polls it in its poll step, so
// nothing here ever waits for a client.

// One client's end of the channel.
struct control_connection {
    virtual ~control_connection() = default;
    // Up to size bytes that have arrived: their count, 0 when none wait, -1
    // once the other end has gone.
    virtual long receive(char* buffer, size_t size) = 0;
    // Hands over what the channel takes of data now: the count, 0 when it is
    // full, -1 once the other end has gone.
    virtual long send(const char* data, size_t size) = 0;
    // Waits up to ms milliseconds for something to receive (or for the other
    // end to go), less when a signal arrives; for the --send side only, never
    // for the run. False when the time passed with nothing.
    virtual bool wait_for_input(int ms) = 0;
    // Ready when something has arrived (or the other end went), or, with
    // to_write, when the channel takes data again; empty where the channel
    // cannot be waited on, and the run then looks again soon on its own.
    virtual wait_handle ready_handle(bool to_write) {
        (void)to_write;
        return {};
    }
};

// A client that connected, and whether it runs as the user who started the
// run (or as the administrator): only such a client may control it.
struct control_client_connection {
    std::unique_ptr<control_connection> connection;
    bool same_user = true;
};

// What one try at reaching a run gives: the connection; or none, with busy
// set when a run answers there but takes no client just now (every place in
// its queue is taken: try again soon), error when the place cannot be used
// (a run of another user, a folder that others may open), and neither when
// no run answers there.
struct control_reach {
    std::unique_ptr<control_connection> connection;
    bool busy = false;
    std::string error;  // without the program's name
};

struct control_listener {
    virtual ~control_listener() = default;
    // The next client that connected, or none.
    virtual control_client_connection accept() = 0;
    // Ready when a client may be waiting to be accepted; empty as above.
    virtual wait_handle ready_handle() { return {}; }
};

struct control_channel {
    virtual ~control_channel() = default;
    // Where a run answers without a place named, and where --send looks.
    // Empty, and the message, when it cannot be had (on Windows the name
    // holds a key kept in a file).
    virtual std::string default_address(std::string& error) = 0;
    // The place that --control=NAME names.
    virtual std::string named_address(const std::string& name) = 0;
    // Starts answering at address, which only the user may reach; in a
    // private folder (the default place) the folder is made and checked
    // first. A place where no run answers any more is taken over. nullptr and
    // the message (without the program's name) when it cannot be done.
    virtual std::unique_ptr<control_listener> listen(const std::string& address, bool private_folder,
                                                     std::string& error) = 0;
    // One try at reaching the run that answers at address, for the client;
    // it never waits for the run. With private_folder (the default place)
    // the folder is checked first: one that is not the user's own, or that
    // others may open, is refused. So is a run of another user.
    virtual control_reach connect(const std::string& address, bool private_folder) = 0;
};

// This system's channel. The simulated platform uses it too: the tests talk
// to runs on a real socket.
std::unique_ptr<control_channel> make_system_control_channel();

// For a platform put together without one: nothing can listen.
inline control_channel& none_control_channel() {
    struct no_control_channel final : control_channel {
        std::string default_address(std::string&) override { return "control"; }
        std::string named_address(const std::string& name) override { return name; }
        std::unique_ptr<control_listener> listen(const std::string& address, bool, std::string& error) override {
            error = address + ": no control channel on this system";
            return nullptr;
        }
        control_reach connect(const std::string&, bool) override { return {}; }
    };
    static no_control_channel none;
    return none;
}
