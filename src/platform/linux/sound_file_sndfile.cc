#include "platform/linux/sound_file_sndfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int frame_rate = 44100;
constexpr int channels = 2;

struct file_type {
    const char* name;
    int format;
    bool listed;  // chosen by a file name's ending; RF64 only for long WAVs
};

constexpr file_type file_types[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true},
    {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, true},
    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, true},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, false},
};

SF_INFO info_for(int format) {
    SF_INFO info{};
    info.samplerate = frame_rate;
    info.channels = channels;
    info.format = format;
    return info;
}

bool library_writes(int format) {
    SF_INFO info = info_for(format);
    return sf_format_check(&info) == SF_TRUE;
}

// The bytes go through these calls rather than the library's own, so that
// a failed write leaves the system's error number.
struct file_io {
    int fd = -1;
    int error = 0;  // errno of the first failure
};

file_io& io_of(void* user) {
    return *static_cast<file_io*>(user);
}

sf_count_t io_length(void* user) {
    struct stat status {};
    if (fstat(io_of(user).fd, &status) != 0) return -1;
    return status.st_size;
}

sf_count_t io_seek(sf_count_t offset, int whence, void* user) {
    return lseek(io_of(user).fd, offset, whence);
}

sf_count_t io_tell(void* user) {
    return lseek(io_of(user).fd, 0, SEEK_CUR);
}

sf_count_t io_read(void* data, sf_count_t count, void* user) {
    file_io& io = io_of(user);
    sf_count_t done = 0;
    while (done < count) {
        ssize_t got = read(io.fd, static_cast<char*>(data) + done, static_cast<size_t>(count - done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += got;
    }
    return done;
}

sf_count_t io_write(const void* data, sf_count_t count, void* user) {
    file_io& io = io_of(user);
    sf_count_t done = 0;
    while (done < count) {
        ssize_t put = write(io.fd, static_cast<const char*>(data) + done, static_cast<size_t>(count - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (io.error == 0) io.error = put < 0 ? errno : ENOSPC;
            break;
        }
        done += put;
    }
    return done;
}

SF_VIRTUAL_IO virtual_io{io_length, io_seek, io_read, io_write, io_tell};

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A new file beside path that nothing else uses, with the permissions a new
// file of the final name would get.
int create_temporary(const std::string& path, std::string& temporary, int& error) {
    int fd = -1;
    const bool created = create_temporary_in(directory_of(path), temporary, [&fd](const std::string& name) {
        fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return create_result::created;
        return errno == EEXIST ? create_result::name_taken : create_result::failed;
    });
    if (!created) error = errno;
    return created ? fd : -1;
}

int sync_descriptor(int fd) {
    while (fsync(fd) != 0) {
        if (errno == EINTR) continue;
        // A folder on a file system that cannot sync it has nothing to lose.
        return errno == EINVAL || errno == EROFS ? 0 : errno;
    }
    return 0;
}

// The rename is a change to the folder, on the disk only once the folder
// itself is synced.
int sync_folder_of(const std::string& path) {
    const std::string folder = directory_of(path);
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = sync_descriptor(fd);
    close(fd);
    return error;
}

class sndfile_sound_file final : public sound_file {
public:
    sndfile_sound_file(std::string path, std::string temporary, int fd)
        : path_(std::move(path)), temporary_(std::move(temporary)) {
        io_.fd = fd;
        // Past a file size limit, a write fails with EFBIG instead of the
        // signal killing the process.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &saved_size_action_);
    }
    sndfile_sound_file(const sndfile_sound_file&) = delete;
    sndfile_sound_file& operator=(const sndfile_sound_file&) = delete;

    ~sndfile_sound_file() override {
        if (file_ != nullptr) sf_close(file_);
        if (io_.fd >= 0) close(io_.fd);
        if (!finished_) unlink(temporary_.c_str());
        sigaction(SIGXFSZ, &saved_size_action_, nullptr);
    }

    bool open(int format) {
        SF_INFO info = info_for(format);
        file_ = sf_open_virtual(&virtual_io, SFM_WRITE, &info, &io_);
        if (file_ == nullptr) {
            error_ = io_.error != 0 ? strerror(io_.error) : sf_strerror(nullptr);
            return false;
        }
        return true;
    }

    bool write(const int16_t* samples, uint32_t frames) override {
        if (sf_writef_short(file_, samples, frames) == static_cast<sf_count_t>(frames)) return true;
        error_ = io_.error != 0 ? strerror(io_.error) : sf_strerror(file_);
        return false;
    }

    bool finish() override {
        // Closing writes the header's sizes.
        int closed = sf_close(file_);
        file_ = nullptr;
        if (closed != 0 || io_.error != 0) {
            error_ = io_.error != 0 ? strerror(io_.error) : sf_error_number(closed);
            return false;
        }
        // The frames are on the disk before the name points at them, so a
        // power cut leaves under it the earlier file or the whole new one,
        // never an empty one.
        if (int error = sync_descriptor(io_.fd)) {
            error_ = strerror(error);
            return false;
        }
        int fd = io_.fd;
        io_.fd = -1;
        if (close(fd) != 0) {
            error_ = strerror(errno);
            return false;
        }
        if (rename(temporary_.c_str(), path_.c_str()) != 0) {
            // The finished sound is not thrown away: the user is told where.
            error_ = std::string(strerror(errno)) + ": the finished file is kept as " + temporary_;
            finished_ = true;
            return false;
        }
        finished_ = true;
        // The file is in place; a folder that cannot be synced still makes
        // the export a failure, since a power cut could undo it.
        if (int error = sync_folder_of(path_)) {
            error_ = strerror(error);
            return false;
        }
        return true;
    }

    std::string error() const override { return error_; }

private:
    std::string path_;
    std::string temporary_;
    file_io io_;
    SNDFILE* file_ = nullptr;
    std::string error_;
    bool finished_ = false;
    struct sigaction saved_size_action_ {};
};

class sndfile_writer final : public sound_file_writer {
public:
    std::vector<std::string> types() override {
        std::vector<std::string> names;
        for (const file_type& type : file_types)
            if (type.listed && library_writes(type.format)) names.push_back(type.name);
        return names;
    }

    std::unique_ptr<sound_file> create(const std::string& path, const std::string& type, uint64_t,
                                       std::string& error) override {
        const file_type* chosen = nullptr;
        for (const file_type& known : file_types)
            if (type == known.name && library_writes(known.format)) chosen = &known;
        if (chosen == nullptr) {
            error = "cannot write " + type + " files";
            return nullptr;
        }
        // Found now rather than at the rename, after all the work.
        struct stat status {};
        if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            error = strerror(EISDIR);
            return nullptr;
        }
        std::string temporary;
        int open_error = 0;
        int fd = create_temporary(path, temporary, open_error);
        if (fd < 0) {
            error = strerror(open_error);
            return nullptr;
        }
        auto file = std::make_unique<sndfile_sound_file>(path, temporary, fd);
        if (!file->open(chosen->format)) {
            error = file->error();
            return nullptr;
        }
        return file;
    }
};

}  // namespace

std::unique_ptr<sound_file_writer> make_sndfile_writer() {
    return std::make_unique<sndfile_writer>();
}
