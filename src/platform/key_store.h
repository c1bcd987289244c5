#pragma once

#include <memory>
#include <string>

// Random keys, each kept in a file that only the user may read, in the
// program's folder among the user's own settings: made on first use, the
// same from then on. A name that holds one cannot be guessed by another
// user, so that no one else can take it first (the Windows pipe's default
// name) or reach what it guards.
//
// Where a key is kept: with this machine's settings (a key that names a
// local pipe), or with those that follow the user from machine to machine
// (the web page's key, which a bookmark holds). On Linux both are the same
// folder; on Windows the local and the roaming application data.
enum class key_folder { local, roaming };

struct key_store {
    virtual ~key_store() = default;
    // The key kept as name: 32 hexadecimal digits, 128 random bits. Empty,
    // and the message (without the program's name), when it cannot be had:
    // a file or folder that others may change or read is not used.
    virtual std::string key(const std::string& name, std::string& error, key_folder folder) = 0;
    std::string key(const std::string& name, std::string& error) { return key(name, error, key_folder::local); }
};

// This system's: on Linux in $XDG_CONFIG_HOME/tonquel (else
// ~/.config/tonquel), made with mode 0700, each file 0600; on Windows in
// %LOCALAPPDATA%\tonquel (roaming: %APPDATA%\tonquel), each file open to
// the user alone.
std::unique_ptr<key_store> make_system_key_store();

// Whether text is a key as key() gives it.
inline bool is_key_text(const std::string& text) {
    if (text.size() != 32) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Sixteen random bytes as a key's text: 32 hexadecimal digits.
inline std::string key_text_of(const unsigned char (&random)[16]) {
    constexpr const char* digits = "0123456789abcdef";
    std::string key;
    for (unsigned char bits : random) {
        key += digits[bits >> 4];
        key += digits[bits & 15];
    }
    return key;
}

// The key that a key file's text holds, its line end left out; empty, with
// the error, when it holds none.
inline std::string key_in_file_text(std::string text, const std::string& path, std::string& error) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (is_key_text(text)) return text;
    error = path + ": not a key (32 hexadecimal digits)";
    return "";
}

// For a platform put together without one: no key can be had.
inline key_store& none_key_store() {
    struct no_key_store final : key_store {
        std::string key(const std::string& name, std::string& error, key_folder) override {
            error = name + ": no place for keys on this system";
            return "";
        }
    };
    static no_key_store none;
    return none;
}
