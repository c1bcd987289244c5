#include "platform/windows/control_pipe.h"

#include "platform/key_store.h"
#include "platform/windows/own_user.h"
#include "platform/windows/system_text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD pipe_buffer = 64 * 1024;
constexpr const char* pipe_prefix = "\\\\.\\pipe\\";

// Both ends are opened for overlapped use, so that no read or write of the
// run ever waits for a client that does not read.
class pipe_connection final : public control_connection {
public:
    explicit pipe_connection(HANDLE pipe) : pipe_(pipe) {}
    pipe_connection(const pipe_connection&) = delete;
    pipe_connection& operator=(const pipe_connection&) = delete;

    ~pipe_connection() override {
        if (writing_) {
            CancelIoEx(pipe_, &write_);
            DWORD ignored = 0;
            GetOverlappedResult(pipe_, &write_, &ignored, TRUE);
        }
        CloseHandle(pipe_);
        CloseHandle(read_event_);
        CloseHandle(write_event_);
    }

    long receive(char* buffer, size_t size) override {
        DWORD waiting = 0;
        if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &waiting, nullptr)) return -1;
        if (waiting == 0) return 0;
        OVERLAPPED read{};
        read.hEvent = read_event_;
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>(waiting, size));
        // What was peeked is there: the read completes at once.
        if (!ReadFile(pipe_, buffer, wanted, nullptr, &read) && GetLastError() != ERROR_IO_PENDING) return -1;
        if (!GetOverlappedResult(pipe_, &read, &got, TRUE)) return -1;
        return static_cast<long>(got);
    }

    long send(const char* data, size_t size) override {
        if (writing_) {
            DWORD written = 0;
            if (!GetOverlappedResult(pipe_, &write_, &written, FALSE))
                return GetLastError() == ERROR_IO_INCOMPLETE ? 0 : -1;
            writing_ = false;
        }
        // One write at a time, from a copy that lives until it is done.
        const size_t taken = std::min<size_t>(size, pipe_buffer);
        pending_.assign(data, data + taken);
        write_ = OVERLAPPED{};
        write_.hEvent = write_event_;
        if (!WriteFile(pipe_, pending_.data(), static_cast<DWORD>(taken), nullptr, &write_) &&
            GetLastError() != ERROR_IO_PENDING)
            return -1;
        writing_ = true;
        return static_cast<long>(taken);
    }

    bool wait_for_input(int ms) override {
        // In short steps, so that Ctrl-C, which only sets a flag, acts soon.
        constexpr int step_ms = 10;
        for (int waited = 0; waited < ms; waited += step_ms) {
            DWORD waiting = 0;
            if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0) return true;
            Sleep(step_ms);
        }
        return false;
    }

private:
    HANDLE pipe_;
    HANDLE read_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE write_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED write_{};
    std::vector<char> pending_;
    bool writing_ = false;
};

// Whether the program at the client's end of pipe, the server, runs as
// this user: empty when it does, else the message. Anyone may make a pipe's
// first instance, under any name.
std::string server_user_problem(HANDLE pipe, const std::string& address) {
    ULONG process_id = 0;
    if (!GetNamedPipeServerProcessId(pipe, &process_id))
        return address + ": cannot tell which program answers there: " + system_text(GetLastError());
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    std::vector<BYTE> theirs;
    if (process != nullptr) {
        theirs = token_user_of(process);
        CloseHandle(process);
    }
    std::vector<BYTE> own = token_user_of(GetCurrentProcess());
    if (own.empty()) return address + ": " + system_text(GetLastError());
    // A process whose token this user may not read is another user's.
    if (theirs.empty() || !EqualSid(sid_of(theirs), sid_of(own)))
        return address + ": the program that answers there (process " + std::to_string(process_id) +
               ") runs as another user, not as this one";
    return "";
}

// The client's end: the server may learn who the client is, never act as it.
HANDLE open_client_end(const std::string& address) {
    return CreateFileA(address.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
}

// One instance of the pipe, waiting for its client.
class waiting_instance {
public:
    // INVALID_HANDLE_VALUE in pipe() when it could not be made.
    waiting_instance(const std::string& name, bool first, SECURITY_ATTRIBUTES* security) {
        const DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
        pipe_ = CreateNamedPipeA(name.c_str(), open_mode,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 PIPE_UNLIMITED_INSTANCES, pipe_buffer, pipe_buffer, 0, security);
        if (pipe_ == INVALID_HANDLE_VALUE) return;
        connect_.hEvent = event_;
        if (!ConnectNamedPipe(pipe_, &connect_)) {
            const DWORD error = GetLastError();
            connected_ = error == ERROR_PIPE_CONNECTED;
            pending_ = error == ERROR_IO_PENDING;
        }
    }
    waiting_instance(const waiting_instance&) = delete;
    waiting_instance& operator=(const waiting_instance&) = delete;

    ~waiting_instance() {
        if (pending_) {
            CancelIoEx(pipe_, &connect_);
            DWORD ignored = 0;
            GetOverlappedResult(pipe_, &connect_, &ignored, TRUE);
        }
        if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
        CloseHandle(event_);
    }

    HANDLE pipe() const { return pipe_; }

    // Whether a client has connected; false for good when the wait failed
    // (a client that came and went before it was taken).
    bool connected() {
        if (pending_) {
            DWORD ignored = 0;
            const bool done = GetOverlappedResult(pipe_, &connect_, &ignored, FALSE);
            if (!done && GetLastError() == ERROR_IO_INCOMPLETE) return false;
            pending_ = false;
            connected_ = done;
        }
        return connected_;
    }
    bool failed() const { return !pending_ && !connected_; }

    // The connected pipe, which the connection closes from now on.
    HANDLE hand_over() {
        HANDLE pipe = pipe_;
        pipe_ = INVALID_HANDLE_VALUE;
        return pipe;
    }

private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED connect_{};
    bool pending_ = false;
    bool connected_ = false;
};

// Keeps instances of the pipe waiting, as many as a Unix socket's backlog
// holds, so that clients arriving together between two polls all connect.
class pipe_listener final : public control_listener {
public:
    explicit pipe_listener(std::string name) : name_(std::move(name)) {}

    // The first instance; an error when the pipe exists, so another run
    // answers there.
    std::string open() {
        if (security_.attributes() == nullptr) return name_ + ": " + system_text(GetLastError());
        // Wine lets a second first instance be made: a run that answers is
        // found by calling it.
        HANDLE other = open_client_end(name_);
        const DWORD open_error = GetLastError();
        if (other != INVALID_HANDLE_VALUE) {
            const std::string stranger = server_user_problem(other, name_);
            CloseHandle(other);
            if (!stranger.empty()) return name_ + ": " + taken_by_another_user;
        }
        if (other != INVALID_HANDLE_VALUE || open_error == ERROR_PIPE_BUSY)
            return name_ + ": another run answers there";
        if (open_error == ERROR_ACCESS_DENIED) return name_ + ": " + taken_by_another_user;
        // The first instance, or none: whoever made the name first keeps it.
        auto first = std::make_unique<waiting_instance>(name_, true, security_.attributes());
        if (first->pipe() == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_ACCESS_DENIED) return name_ + ": " + taken_by_another_user;
            if (error == ERROR_PIPE_BUSY) return name_ + ": another run answers there";
            return name_ + ": " + system_text(error);
        }
        waiting_.push_back(std::move(first));
        top_up();
        return "";
    }

    control_client_connection accept() override {
        for (auto instance = waiting_.begin(); instance != waiting_.end(); ++instance) {
            if (!(*instance)->connected()) continue;
            HANDLE client = (*instance)->hand_over();
            waiting_.erase(instance);
            // The next instances are there before this one is handed on, so
            // that the pipe's name never lapses while the run answers.
            top_up();
            return {std::make_unique<pipe_connection>(client), true};
        }
        top_up();
        return {};
    }

private:
    static constexpr size_t instances_waiting = 32;
    static constexpr const char* taken_by_another_user =
        "a program of another user holds this name; choose another with --control=NAME";

    void top_up() {
        std::erase_if(waiting_, [](const std::unique_ptr<waiting_instance>& instance) { return instance->failed(); });
        while (waiting_.size() < instances_waiting) {
            auto instance = std::make_unique<waiting_instance>(name_, false, security_.attributes());
            if (instance->pipe() == INVALID_HANDLE_VALUE) return;
            waiting_.push_back(std::move(instance));
        }
    }

    std::string name_;
    own_user_only security_;
    std::vector<std::unique_ptr<waiting_instance>> waiting_;
};

class pipe_control_channel final : public control_channel {
public:
    // tonquel-USER-KEY: the key, kept in the user's own files, is what no
    // other user can guess, so that no one can take the name before a run.
    std::string default_address(std::string& error) override {
        char user[256] = "";
        DWORD size = sizeof user;
        if (!GetUserNameA(user, &size)) strcpy(user, "user");
        const std::string key = make_system_key_store()->key("pipe-key", error);
        if (key.empty()) return "";
        return pipe_address(std::string("tonquel-") + user + "-" + key);
    }

    std::string named_address(const std::string& name) override { return pipe_address(name); }

    std::unique_ptr<control_listener> listen(const std::string& address, bool, std::string& error) override {
        auto listener = std::make_unique<pipe_listener>(address);
        error = listener->open();
        if (!error.empty()) return nullptr;
        return listener;
    }

    control_reach connect(const std::string& address, bool) override {
        control_reach reach;
        HANDLE pipe = open_client_end(address);
        if (pipe == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            // Every instance is taken: the run makes another within a step.
            if (code == ERROR_PIPE_BUSY) reach.busy = true;
            else if (code != ERROR_FILE_NOT_FOUND) reach.error = address + ": " + system_text(code);
            return reach;
        }
        reach.error = server_user_problem(pipe, address);
        if (!reach.error.empty()) {
            CloseHandle(pipe);
            return reach;
        }
        reach.connection = std::make_unique<pipe_connection>(pipe);
        return reach;
    }
};

}  // namespace

std::string pipe_address(const std::string& name) {
    const size_t prefix_length = strlen(pipe_prefix);
    if (name.size() >= prefix_length && _strnicmp(name.c_str(), pipe_prefix, prefix_length) == 0) return name;
    return pipe_prefix + name;
}

std::unique_ptr<control_channel> make_system_control_channel() {
    return std::make_unique<pipe_control_channel>();
}
