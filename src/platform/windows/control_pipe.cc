#include "platform/windows/control_pipe.h"

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

// A security descriptor that lets the current user alone open the pipe.
class own_user_only {
public:
    own_user_only() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool known = GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        CloseHandle(token);
        if (!known) return;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
                 AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) &&
                 InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    }
    own_user_only(const own_user_only&) = delete;
    own_user_only& operator=(const own_user_only&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    std::vector<BYTE> user_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

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
        HANDLE other = CreateFileA(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
        if (other != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY)
            return name_ + ": another run answers there";
        auto first = std::make_unique<waiting_instance>(name_, true, security_.attributes());
        if (first->pipe() == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)
                return name_ + ": another run answers there";
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
    std::string default_address() override {
        char user[256] = "";
        DWORD size = sizeof user;
        if (!GetUserNameA(user, &size)) strcpy(user, "user");
        return pipe_address(std::string("tonquel-") + user);
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
        HANDLE pipe = CreateFileA(address.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            reach.connection = std::make_unique<pipe_connection>(pipe);
            return reach;
        }
        const DWORD code = GetLastError();
        // Every instance is taken: the run makes another within a step.
        if (code == ERROR_PIPE_BUSY) reach.busy = true;
        else if (code != ERROR_FILE_NOT_FOUND) reach.error = address + ": " + system_text(code);
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
