// Floods a run's control channel, as a hostile client of the same user
// would, and reports what the run answered meanwhile. Built by the system
// tests with plain g++ (a Unix socket), or with the Windows cross compiler
// to run under Wine (a named pipe), standard library and the system's API
// only.
//
//   control_flood ADDRESS SECONDS
//
// For SECONDS, from 15 connections: 4 ask for the schedule, one request
// after the other, and check that every reply arrives whole and the same; 4
// send lines nested 60,000 deep, eight at a time, and read the errors; 6 say
// nothing; 1 asks for the status every 100 ms and times the answer. Then all
// hang up together, and 16 connect at once after: the last must be served,
// as a slot freed is free. Prints
//   SCHEDULE_REPLIES NESTED_REPLIES STATUS_ANSWERS SLOWEST_STATUS_MS
// and exits with 1 when a connection fails, is refused or closed, or a reply
// is cut.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

using steady = std::chrono::steady_clock;

#ifdef _WIN32
class connection {
public:
    explicit connection(const std::string& address) {
        for (int tries = 0; tries < 50 && handle_ == INVALID_HANDLE_VALUE; ++tries) {
            handle_ = CreateFileA(address.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (handle_ == INVALID_HANDLE_VALUE) Sleep(20);  // every instance taken: the run makes more
        }
    }
    ~connection() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool write(const std::string& data) {
        DWORD written = 0;
        for (size_t at = 0; at < data.size(); at += written)
            if (!WriteFile(handle_, data.data() + at, static_cast<DWORD>(data.size() - at), &written, nullptr))
                return false;
        return true;
    }
    long read(char* buffer, size_t size) {
        DWORD got = 0;
        if (!ReadFile(handle_, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
        return static_cast<long>(got);
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
#else
class connection {
public:
    explicit connection(const std::string& address) {
        sockaddr_un place{};
        place.sun_family = AF_UNIX;
        if (address.size() >= sizeof place.sun_path) return;
        memcpy(place.sun_path, address.c_str(), address.size() + 1);
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&place), sizeof place) != 0) {
            close(fd_);
            fd_ = -1;
        }
        // A reply that never comes counts as a close.
        const timeval patience{2, 0};
        if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    ~connection() {
        if (fd_ >= 0) close(fd_);
    }
    bool open() const { return fd_ >= 0; }
    bool write(const std::string& data) {
        for (size_t at = 0; at < data.size();) {
            const ssize_t sent = send(fd_, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (sent <= 0) return false;
            at += static_cast<size_t>(sent);
        }
        return true;
    }
    long read(char* buffer, size_t size) {
        const ssize_t got = recv(fd_, buffer, size, 0);
        return got > 0 ? static_cast<long>(got) : -1;
    }

private:
    int fd_ = -1;
};
#endif

// Reads whole lines from a connection.
class line_reader {
public:
    explicit line_reader(connection& from) : from_(from) {}
    // False once the connection is closed before a whole line came.
    bool next(std::string& line) {
        for (;;) {
            const size_t end = pending_.find('\n', scanned_);
            if (end != std::string::npos) {
                line.assign(pending_, 0, end + 1);
                pending_.erase(0, end + 1);
                scanned_ = 0;
                return true;
            }
            scanned_ = pending_.size();
            const long got = from_.read(buffer_.get(), buffer_size);
            if (got < 0) return false;
            pending_.append(buffer_.get(), static_cast<size_t>(got));
        }
    }

private:
    static constexpr size_t buffer_size = 1 << 20;
    connection& from_;
    std::unique_ptr<char[]> buffer_{new char[buffer_size]};
    std::string pending_;
    size_t scanned_ = 0;
};

std::mutex report_lock;
std::vector<std::string> failures;

void fail(const std::string& what) {
    const std::lock_guard<std::mutex> hold(report_lock);
    failures.push_back(what);
}

bool refused(const std::string& line) {
    return line.find("\"error\":\"too many clients") != std::string::npos;
}

const std::string schedule_request = "{\"command\":[\"schedule\"],\"request_id\":1}\n";
const std::string status_request = "{\"command\":[\"status\"],\"request_id\":2}\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: control_flood ADDRESS SECONDS\n");
        return 2;
    }
    const std::string address = argv[1];
    const auto end = steady::now() + std::chrono::milliseconds(static_cast<int>(atof(argv[2]) * 1000));

    std::vector<std::unique_ptr<connection>> clients;
    for (int i = 0; i < 15; ++i) {
        clients.push_back(std::make_unique<connection>(address));
        if (!clients.back()->open()) fail("a connection failed");
    }
    if (!failures.empty()) {
        fprintf(stderr, "control_flood: %s\n", failures[0].c_str());
        return 1;
    }

    std::atomic<int> schedule_replies{0};
    std::atomic<int> nested_replies{0};
    std::atomic<bool> nested_otherwise{false};
    std::atomic<int> status_answers{0};
    std::atomic<long> slowest_ms{0};
    std::vector<std::thread> threads;
    // Whatever goes wrong is told, and the flood goes on: a run that failed
    // a client must still keep its sound.
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            std::string first;
            std::string line;
            while (steady::now() < end) {
                line_reader lines(*clients[i]);
                while (steady::now() < end && clients[i]->write(schedule_request) && lines.next(line)) {
                    if (refused(line)) return fail("a scheduler was refused: " + line);
                    if (first.empty()) first = line;
                    if (line != first || line.rfind("{\"request_id\":1,\"error\":\"success\",\"data\":[", 0) != 0 ||
                        !line.ends_with("]}\n"))
                        fail("a schedule reply of " + std::to_string(line.size()) + " bytes differs");
                    else
                        ++schedule_replies;
                }
                if (steady::now() >= end) return;
                fail("a scheduler was closed");
                clients[i] = std::make_unique<connection>(address);
            }
        });
    const std::string nested = std::string(60000, '[') + "\n";
    for (int i = 4; i < 8; ++i)
        threads.emplace_back([&, client = clients[i].get()] {
            line_reader lines(*client);
            std::string batch;
            for (int line = 0; line < 8; ++line) batch += nested;
            std::string line;
            while (steady::now() < end) {
                if (!client->write(batch)) return fail("a nester was closed");
                for (int reply = 0; reply < 8; ++reply) {
                    if (!lines.next(line)) return fail("a nester was closed");
                    if (line == "{\"error\":\"nested deeper than 16 levels\"}\n") ++nested_replies;
                    else nested_otherwise = true;
                }
            }
        });
    threads.emplace_back([&, client = clients[14].get()] {
        line_reader lines(*client);
        std::string line;
        while (steady::now() < end) {
            const auto asked = steady::now();
            if (!client->write(status_request) || !lines.next(line)) return fail("the status client was closed");
            if (line.rfind("{\"request_id\":2,\"error\":\"success\",\"data\":{", 0) != 0)
                return fail("status got " + line);
            const long ms =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - asked).count());
            if (ms > slowest_ms) slowest_ms = ms;
            ++status_answers;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    // Clients 8 to 13 say nothing.
    for (std::thread& thread : threads) thread.join();
    clients.clear();
    for (int i = 0; i < 16; ++i) clients.push_back(std::make_unique<connection>(address));
    line_reader last(*clients.back());
    std::string line;
    if (!clients.back()->write(status_request) || !last.next(line)) fail("the client after the flood was closed");
    else if (line.rfind("{\"request_id\":2,\"error\":\"success\"", 0) != 0) fail("after the flood: " + line);
    if (nested_otherwise) fail("a nested line got another answer");
    printf("%d %d %d %ld\n", schedule_replies.load(), nested_replies.load(), status_answers.load(), slowest_ms.load());
    for (const std::string& failure : failures) fprintf(stderr, "control_flood: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}
