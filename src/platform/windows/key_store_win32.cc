#include "platform/key_store.h"

#include "platform/windows/own_user.h"
#include "platform/windows/system_text.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>

namespace {

std::string failure(const std::string& path, DWORD code) {
    return path + ": " + system_text(code);
}

// The key in the file at path: true when there is one (key or error set),
// false when there is no file yet.
bool read_key(const std::string& path, std::string& key, std::string& error) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return false;
        error = failure(path, code);
        return true;
    }
    char text[64];
    DWORD got = 0;
    const bool read = ReadFile(file, text, sizeof text, &got, nullptr);
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!read) {
        error = failure(path, code);
        return true;
    }
    key = key_in_file_text(std::string(text, got), path, error);
    return true;
}

class win32_key_store final : public key_store {
public:
    using key_store::key;
    std::string key(const std::string& name, std::string& error, key_folder place) override {
        const char* variable = place == key_folder::roaming ? "APPDATA" : "LOCALAPPDATA";
        const char* local = getenv(variable);
        if (local == nullptr || local[0] == '\0') {
            error = std::string(variable) + " is not set: no folder to keep " + name + " in";
            return "";
        }
        const std::string folder = std::string(local) + "\\tonquel";
        const std::string path = folder + "\\" + name;
        if (security_.attributes() == nullptr) {
            error = failure(path, GetLastError());
            return "";
        }
        // The user's application data is the user's alone already;
        // the folder and the file say so themselves too.
        if (!CreateDirectoryA(folder.c_str(), security_.attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
            error = failure(folder, GetLastError());
            return "";
        }
        std::string key;
        if (read_key(path, key, error)) return key;
        return make_key(path, error);
    }

private:
    // Written whole beside its place and moved in, so that two runs making
    // it at once agree on one, and neither ever reads half a file.
    std::string make_key(const std::string& path, std::string& error) {
        unsigned char random[16];
        if (BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
            error = path + ": no random numbers from the system";
            return "";
        }
        const std::string key = key_text_of(random);
        const std::string line = key + "\r\n";
        const std::string draft = path + "." + std::to_string(GetCurrentProcessId()) + ".new";
        HANDLE file = CreateFileA(draft.c_str(), GENERIC_WRITE, 0, security_.attributes(), CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = failure(path, GetLastError());
            return "";
        }
        DWORD written = 0;
        const bool whole = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                           written == line.size() && FlushFileBuffers(file);
        const DWORD write_code = GetLastError();
        CloseHandle(file);
        if (!whole) {
            DeleteFileA(draft.c_str());
            error = failure(path, write_code);
            return "";
        }
        if (MoveFileExA(draft.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return key;
        const DWORD move_code = GetLastError();
        DeleteFileA(draft.c_str());
        if (move_code != ERROR_ALREADY_EXISTS && move_code != ERROR_FILE_EXISTS) {
            error = failure(path, move_code);
            return "";
        }
        // Another run made it first: its key counts.
        std::string theirs;
        if (!read_key(path, theirs, error)) error = path + ": gone as soon as it was made";
        return theirs;
    }

    own_user_only security_;
};

}  // namespace

std::unique_ptr<key_store> make_system_key_store() {
    return std::make_unique<win32_key_store>();
}
