#include "platform/linux/control_socket_unix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int backlog = 32;

std::string system_error(const std::string& path, int error) {
    return path + ": " + strerror(error);
}

// False when the path does not fit a socket address.
bool socket_address(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

class unix_connection final : public control_connection {
public:
    explicit unix_connection(int fd) : fd_(fd) {}
    ~unix_connection() override { close(fd_); }
    unix_connection(const unix_connection&) = delete;
    unix_connection& operator=(const unix_connection&) = delete;

    long receive(char* buffer, size_t size) override {
        const ssize_t got = recv(fd_, buffer, size, 0);
        if (got > 0) return static_cast<long>(got);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
        return -1;
    }

    long send(const char* data, size_t size) override {
        // A client that went away is an error here, never a SIGPIPE.
        const ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<long>(sent);
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        return -1;
    }

    wait_handle ready_handle(bool to_write) override {
        return {fd_, to_write ? wait_handle::ready::to_write : wait_handle::ready::to_read};
    }

    bool wait_for_input(int ms) override {
        // Never restarted: a signal ends the wait at once.
        pollfd ready{fd_, POLLIN, 0};
        return poll(&ready, 1, ms) != 0;
    }

private:
    int fd_;
};

class unix_listener final : public control_listener {
public:
    unix_listener(int fd, std::string path, const struct stat& bound) : fd_(fd), path_(std::move(path)), bound_(bound) {}
    unix_listener(const unix_listener&) = delete;
    unix_listener& operator=(const unix_listener&) = delete;

    ~unix_listener() override {
        close(fd_);
        // Only our own socket: a file put in its place since is left alone.
        struct stat now {};
        if (lstat(path_.c_str(), &now) == 0 && now.st_dev == bound_.st_dev && now.st_ino == bound_.st_ino)
            unlink(path_.c_str());
    }

    wait_handle ready_handle() override { return {fd_, wait_handle::ready::to_read}; }

    control_client_connection accept() override {
        // The run asks on every wake-up, and an accept with nobody waiting
        // still makes and frees a socket in the kernel: a look costs less.
        pollfd waiting{fd_, POLLIN, 0};
        if (poll(&waiting, 1, 0) <= 0) return {};
        const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return {};
        ucred peer{};
        socklen_t size = sizeof peer;
        const bool known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
        const bool same_user = known && (peer.uid == geteuid() || peer.uid == 0);
        return {std::make_unique<unix_connection>(fd), same_user};
    }

private:
    int fd_;
    std::string path_;
    struct stat bound_;
};

// Whether a run answers on the socket at path: empty when none does (the
// socket is then removed), else the message.
std::string take_over(const std::string& path, const sockaddr_un& address) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) != 0) return errno == ENOENT ? "" : system_error(path, errno);
    if (!S_ISSOCK(existing.st_mode)) return path + ": exists and is not a socket";
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0) return system_error(path, errno);
    const int answered = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    close(probe);
    // A full backlog is a run too busy to accept at once.
    if (answered == 0 || error == EAGAIN) return path + ": another run answers there";
    if (error != ECONNREFUSED) return system_error(path, error);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) return system_error(path, errno);
    return "";
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// For the client: the default place's folder, which is the user's own and
// open to nobody else, or the message that says why not; none when it does
// not exist (no run answers there then). Anyone may make the folder of the
// fallback place under /tmp first.
std::string folder_kept_private(const std::string& folder) {
    struct stat found {};
    if (lstat(folder.c_str(), &found) != 0) return errno == ENOENT ? "" : system_error(folder, errno);
    if (!S_ISDIR(found.st_mode)) return folder + ": not a folder, so no run of this user's answers there";
    if (found.st_uid != geteuid())
        return folder + ": belongs to another user (uid " + std::to_string(found.st_uid) +
               "), so no run of this user's answers there";
    if ((found.st_mode & 077) != 0) {
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(found.st_mode & 07777));
        return folder + ": other users may open it (mode " + mode + "), so what answers there is not trusted";
    }
    return "";
}

class unix_control_channel final : public control_channel {
public:
    std::string default_address(std::string&) override {
        const char* runtime = getenv("XDG_RUNTIME_DIR");
        if (runtime != nullptr && runtime[0] != '\0') return std::string(runtime) + "/tonquel/control";
        return "/tmp/tonquel-" + std::to_string(geteuid()) + "/control";
    }

    std::string named_address(const std::string& name) override { return name; }

    std::unique_ptr<control_listener> listen(const std::string& path, bool private_folder,
                                             std::string& error) override {
        sockaddr_un address{};
        if (!socket_address(path, address)) {
            error = path + ": too long for a socket's name (at most " +
                    std::to_string(sizeof address.sun_path - 1) + " bytes)";
            return nullptr;
        }
        if (private_folder) {
            error = make_private_folder(folder_of(path));
            if (!error.empty()) return nullptr;
        }
        error = take_over(path, address);
        if (!error.empty()) return nullptr;
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = system_error(path, errno);
            return nullptr;
        }
        // Made with mode 0600 from the start, so that no other user can
        // connect in between; the run is single-threaded here.
        const mode_t saved_mask = umask(0177);
        const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        const int bind_error = errno;
        umask(saved_mask);
        struct stat made {};
        if (bound != 0 || ::listen(fd, backlog) != 0 || lstat(path.c_str(), &made) != 0) {
            error = system_error(path, bound != 0 ? bind_error : errno);
            if (bound == 0) unlink(path.c_str());
            close(fd);
            return nullptr;
        }
        return std::make_unique<unix_listener>(fd, path, made);
    }

    control_reach connect(const std::string& path, bool private_folder) override {
        control_reach reach;
        sockaddr_un address{};
        if (!socket_address(path, address)) return reach;
        if (private_folder) {
            reach.error = folder_kept_private(folder_of(path));
            if (!reach.error.empty()) return reach;
        }
        // Non-blocking: a run whose queue is full makes connect() wait for
        // ever otherwise, through Ctrl-C, which restarts it.
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            reach.error = system_error(path, errno);
            return reach;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int connect_error = errno;
            close(fd);
            // A Unix socket takes a client at once or not at all.
            if (connect_error == EAGAIN || connect_error == EINPROGRESS || connect_error == EINTR)
                reach.busy = true;
            else if (connect_error != ENOENT && connect_error != ECONNREFUSED && connect_error != ENOTDIR)
                reach.error = system_error(path, connect_error);
            return reach;
        }
        // Whoever made the socket first answers at a path in a shared place:
        // only a run of this user's is told anything.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
            reach.error = system_error(path, errno);
        } else if (peer.uid != geteuid()) {
            reach.error = path + ": the program that answers there runs as another user (uid " +
                          std::to_string(peer.uid) + "), not as this one";
        }
        if (!reach.error.empty()) {
            close(fd);
            return reach;
        }
        reach.connection = std::make_unique<unix_connection>(fd);
        return reach;
    }
};

}  // namespace

std::string make_private_folder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) == 0) {
        // Whatever the umask took away.
        if (chmod(folder.c_str(), 0700) != 0) return system_error(folder, errno);
    } else if (errno != EEXIST) {
        return system_error(folder, errno);
    }
    struct stat made {};
    if (lstat(folder.c_str(), &made) != 0) return system_error(folder, errno);
    if (!S_ISDIR(made.st_mode) || made.st_uid != geteuid() || (made.st_mode & 07777) != 0700)
        return folder + ": not a folder of this user's with mode 0700";
    return "";
}

std::unique_ptr<control_channel> make_system_control_channel() {
    return std::make_unique<unix_control_channel>();
}
