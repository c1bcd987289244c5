#include "platform/windows/control_pipe.h"

#include "platform/key_store.h"
#include "platform/windows/own_user.h"
#include "platform/windows/system_text.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD pipe_buffer = 64 * 1024;
constexpr const char* pipe_prefix = "\\\\.\\pipe\\";

// Both ends are opened for overlapped use, so that no read or write of the
// run ever waits for a client that does not read. A read is kept pending,
// so that its event tells the run's one wait when something arrived or the
// other end went; the write's event, when the pipe takes data again.
class pipe_connection final : public control_connection {
public:
    explicit pipe_connection(HANDLE pipe) : pipe_(pipe) { start_read(); }
    pipe_connection(const pipe_connection&) = delete;
    pipe_connection& operator=(const pipe_connection&) = delete;

    ~pipe_connection() override {
        // The buffers the system still fills or reads must outlive it.
        if (writing_) finish_cancelled(write_);
        if (reading_) finish_cancelled(read_);
        CloseHandle(pipe_);
        CloseHandle(read_event_);
        CloseHandle(write_event_);
    }

    long receive(char* buffer, size_t size) override {
        collect_read();
        if (inbox_taken_ == inbox_size_) return gone_ ? -1 : 0;
        const size_t count = std::min(size, inbox_size_ - inbox_taken_);
        std::memcpy(buffer, inbox_.data() + inbox_taken_, count);
        inbox_taken_ += count;
        if (inbox_taken_ == inbox_size_) start_read();
        return static_cast<long>(count);
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
        collect_read();
        if (inbox_taken_ < inbox_size_ || gone_) return true;
        WaitForSingleObject(read_event_, static_cast<DWORD>(std::max(ms, 0)));
        collect_read();
        return inbox_taken_ < inbox_size_ || gone_;
    }

    wait_handle ready_handle(bool to_write) override {
        return {reinterpret_cast<intptr_t>(to_write ? write_event_ : read_event_), wait_handle::ready::to_read};
    }

private:
    void start_read() {
        inbox_size_ = inbox_taken_ = 0;
        if (gone_) return;
        read_ = OVERLAPPED{};
        read_.hEvent = read_event_;
        // Done at once or pending, the result comes the same way.
        if (ReadFile(pipe_, inbox_.data(), static_cast<DWORD>(inbox_.size()), nullptr, &read_) ||
            GetLastError() == ERROR_IO_PENDING) {
            reading_ = true;
            return;
        }
        gone_ = true;
        // The wait wakes to find it gone.
        SetEvent(read_event_);
    }

    void collect_read() {
        if (!reading_) return;
        DWORD got = 0;
        if (GetOverlappedResult(pipe_, &read_, &got, FALSE)) {
            reading_ = false;
            inbox_size_ = got;
            if (got == 0) start_read();
        } else if (GetLastError() != ERROR_IO_INCOMPLETE) {
            reading_ = false;
            gone_ = true;
        }
    }

    void finish_cancelled(OVERLAPPED& operation) {
        CancelIoEx(pipe_, &operation);
        DWORD ignored = 0;
        GetOverlappedResult(pipe_, &operation, &ignored, TRUE);
    }

    HANDLE pipe_;
    HANDLE read_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Set at first: the pipe takes data until a write is pending.
    HANDLE write_event_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    OVERLAPPED read_{};
    std::array<char, 4096> inbox_{};
    size_t inbox_size_ = 0;
    size_t inbox_taken_ = 0;
    bool reading_ = false;
    bool gone_ = false;
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
    // connected_event, the listener's, is set when this or another instance
    // connects.
    waiting_instance(const std::string& name, bool first, SECURITY_ATTRIBUTES* security, HANDLE connected_event) {
        const DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
        pipe_ = CreateNamedPipeA(name.c_str(), open_mode,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 PIPE_UNLIMITED_INSTANCES, pipe_buffer, pipe_buffer, 0, security);
        if (pipe_ == INVALID_HANDLE_VALUE) return;
        connect_.hEvent = connected_event;
        if (!ConnectNamedPipe(pipe_, &connect_)) {
            const DWORD error = GetLastError();
            connected_ = error == ERROR_PIPE_CONNECTED;
            pending_ = error == ERROR_IO_PENDING;
            // A client that came before the wait began sets no event.
            if (connected_) SetEvent(connected_event);
        }
    }
    waiting_instance(const waiting_instance&) = delete;
    waiting_instance& operator=(const waiting_instance&) = delete;

    ~waiting_instance() {
        if (pending_) {
            CancelIoEx(pipe_, &connect_);
            // The event is shared, and may be set by another instance: the
            // cancelled wait is over only once the system says so.
            DWORD ignored = 0;
            while (!GetOverlappedResult(pipe_, &connect_, &ignored, FALSE) && GetLastError() == ERROR_IO_INCOMPLETE)
                Sleep(1);
        }
        if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
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
    OVERLAPPED connect_{};
    bool pending_ = false;
    bool connected_ = false;
};

// Keeps instances of the pipe waiting, as many as a Unix socket's backlog
// holds, so that clients arriving together between two polls all connect.
// They share one event, which is more than the one wait could hold apart.
class pipe_listener final : public control_listener {
public:
    explicit pipe_listener(std::string name) : name_(std::move(name)) {}
    pipe_listener(const pipe_listener&) = delete;
    pipe_listener& operator=(const pipe_listener&) = delete;
    ~pipe_listener() override {
        waiting_.clear();
        CloseHandle(connected_event_);
    }

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
        auto first = std::make_unique<waiting_instance>(name_, true, security_.attributes(), connected_event_);
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
        // Cleared before the instances are looked at, so that a client that
        // connects meanwhile sets it again.
        ResetEvent(connected_event_);
        for (auto instance = waiting_.begin(); instance != waiting_.end(); ++instance) {
            if (!(*instance)->connected()) continue;
            HANDLE client = (*instance)->hand_over();
            waiting_.erase(instance);
            // The next instances are there before this one is handed on, so
            // that the pipe's name never lapses while the run answers.
            top_up();
            // Others may be waiting too: the next call looks.
            SetEvent(connected_event_);
            return {std::make_unique<pipe_connection>(client), true};
        }
        top_up();
        return {};
    }

    wait_handle ready_handle() override {
        return {reinterpret_cast<intptr_t>(connected_event_), wait_handle::ready::to_read};
    }

private:
    static constexpr size_t instances_waiting = 32;
    static constexpr const char* taken_by_another_user =
        "a program of another user holds this name; choose another with --control=NAME";

    void top_up() {
        std::erase_if(waiting_, [](const std::unique_ptr<waiting_instance>& instance) { return instance->failed(); });
        while (waiting_.size() < instances_waiting) {
            auto instance = std::make_unique<waiting_instance>(name_, false, security_.attributes(), connected_event_);
            if (instance->pipe() == INVALID_HANDLE_VALUE) return;
            waiting_.push_back(std::move(instance));
        }
    }

    std::string name_;
    own_user_only security_;
    HANDLE connected_event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
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
