#include "platform/key_store.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string system_error(const std::string& path, int error) {
    return path + ": " + strerror(error);
}

std::string mode_text(mode_t mode) {
    char text[8];
    snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The folder, made with mode 0700 unless it exists; one that others may
// write to would let them put a key of their choosing in place.
std::string ready_folder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return system_error(folder, errno);
    struct stat found {};
    if (lstat(folder.c_str(), &found) != 0) return system_error(folder, errno);
    if (!S_ISDIR(found.st_mode)) return folder + ": not a folder";
    if (found.st_uid != geteuid())
        return folder + ": belongs to another user (uid " + std::to_string(found.st_uid) + ")";
    if ((found.st_mode & 022) != 0)
        return folder + ": other users may change it (mode " + mode_text(found.st_mode) + ")";
    return "";
}

// The key in the file at path: true when there is one (key or error set),
// false when there is no file yet.
bool read_key(const std::string& path, std::string& key, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        error = system_error(path, errno);
        return true;
    }
    struct stat found {};
    char text[64];
    ssize_t got = -1;
    if (fstat(fd, &found) != 0) error = system_error(path, errno);
    else if (!S_ISREG(found.st_mode)) error = path + ": not a plain file";
    else if (found.st_uid != geteuid())
        error = path + ": belongs to another user (uid " + std::to_string(found.st_uid) + ")";
    else if ((found.st_mode & 077) != 0)
        error = path + ": other users may open it (mode " + mode_text(found.st_mode) + ")";
    else if ((got = read(fd, text, sizeof text)) < 0) error = system_error(path, errno);
    close(fd);
    if (!error.empty()) return true;
    key = key_in_file_text(std::string(text, static_cast<size_t>(got)), path, error);
    return true;
}

// Both folders are one here: Linux keeps no roaming settings apart.
class posix_key_store final : public key_store {
public:
    using key_store::key;
    std::string key(const std::string& name, std::string& error, key_folder) override {
        const char* config = getenv("XDG_CONFIG_HOME");
        const char* home = getenv("HOME");
        std::string base;
        if (config != nullptr && config[0] == '/') base = config;
        else if (home != nullptr && home[0] != '\0') base = std::string(home) + "/.config";
        else {
            error = "neither XDG_CONFIG_HOME nor HOME is set: no folder to keep " + name + " in";
            return "";
        }
        if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
            error = system_error(base, errno);
            return "";
        }
        const std::string folder = base + "/tonquel";
        const std::string path = folder + "/" + name;
        error = ready_folder(folder);
        if (!error.empty()) return "";
        std::string key;
        if (read_key(path, key, error)) return key;
        return make_key(path, error);
    }

private:
    // Written whole beside its place and linked in, so that two runs making
    // it at once agree on one, and neither ever reads half a file.
    static std::string make_key(const std::string& path, std::string& error) {
        unsigned char random[16];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            error = system_error(path, errno);
            return "";
        }
        const std::string key = key_text_of(random);
        const std::string line = key + "\n";
        std::string draft = path + ".XXXXXX";
        const int fd = mkstemp(draft.data());  // mode 0600
        if (fd < 0) {
            error = system_error(path, errno);
            return "";
        }
        const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                             fsync(fd) == 0;
        const int write_error = errno;
        close(fd);
        const bool linked = written && link(draft.c_str(), path.c_str()) == 0;
        const int link_error = errno;
        unlink(draft.c_str());
        if (!written) {
            error = system_error(path, write_error);
            return "";
        }
        if (linked) return key;
        if (link_error != EEXIST) {
            error = system_error(path, link_error);
            return "";
        }
        // Another run made it first: its key counts.
        std::string theirs;
        if (!read_key(path, theirs, error)) error = path + ": gone as soon as it was made";
        return theirs;
    }
};

}  // namespace

std::unique_ptr<key_store> make_system_key_store() {
    return std::make_unique<posix_key_store>();
}
