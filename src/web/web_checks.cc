#include "web/web_checks.h"

#include <algorithm>
#include <cctype>

#include "engine/control/control_protocol.h"

namespace {

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool is_loopback_name(std::string_view name) {
    return same_name(name, "localhost") || name == "127.0.0.1" || name == "::1";
}

// A Host header's name and port, an IPv6 address without its brackets; the
// port is -1 when left out, -2 when it is not one.
struct host_parts {
    std::string_view name;
    long port = -1;
};

host_parts split_host(std::string_view host) {
    host_parts parts;
    std::string_view rest;
    if (!host.empty() && host.front() == '[') {
        const size_t close = host.find(']');
        if (close == std::string_view::npos) return {{}, -2};
        parts.name = host.substr(1, close - 1);
        rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return {{}, -2};
    } else {
        const size_t colon = host.find(':');
        parts.name = host.substr(0, colon);
        if (colon != std::string_view::npos) rest = host.substr(colon);
    }
    if (rest.empty()) return parts;
    rest.remove_prefix(1);
    if (rest.empty() || rest.size() > 5) return {{}, -2};
    long port = 0;
    for (char c : rest) {
        if (c < '0' || c > '9') return {{}, -2};
        port = port * 10 + (c - '0');
    }
    parts.port = port <= 65535 ? port : -2;
    return parts;
}

bool is_ipv4(std::string_view text) {
    int parts = 0;
    while (true) {
        size_t digits = 0;
        int value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + (text[digits] - '0');
            if (++digits > 3) return false;
        }
        if (digits == 0 || value > 255 || (digits > 1 && text[0] == '0')) return false;
        text.remove_prefix(digits);
        if (++parts == 4) return text.empty();
        if (text.empty() || text.front() != '.') return false;
        text.remove_prefix(1);
    }
}

// Hexadecimal groups and colons, at least two of them; the system reads it
// as it binds.
bool looks_ipv6(std::string_view text) {
    if (text.size() < 2 || text.size() > 45 || text.find(':') == std::string_view::npos) return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; });
}

}  // namespace

std::string split_web_address(std::string_view text, std::string& address, uint16_t& port) {
    const std::string wanted = "not ADDRESS:PORT (127.0.0.1:8765, 0.0.0.0:8765, [::1]:8765)";
    const host_parts parts = split_host(text);
    if (parts.port < 0 || parts.name.empty()) return wanted;
    const bool bracketed = text.front() == '[';
    if (bracketed ? !looks_ipv6(parts.name) : !is_ipv4(parts.name))
        return "not an IP address: " + std::string(parts.name);
    if (parts.port == 0) return "not a port from 1 to 65535";
    address = std::string(parts.name);
    port = static_cast<uint16_t>(parts.port);
    return "";
}

std::string_view target_path(std::string_view target) {
    return target.substr(0, target.find('?'));
}

std::string key_in_target(std::string_view target) {
    const size_t question = target.find('?');
    if (question == std::string_view::npos) return "";
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.substr(0, 4) == "key=") return std::string(pair.substr(4));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return "";
}

std::string key_in_cookie(std::string_view header) {
    const std::string_view name = web_cookie_name;
    while (!header.empty()) {
        const size_t semicolon = header.find(';');
        const std::string_view pair = trimmed(header.substr(0, semicolon));
        if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
            return std::string(pair.substr(name.size() + 1));
        if (semicolon == std::string_view::npos) break;
        header.remove_prefix(semicolon + 1);
    }
    return "";
}

std::string key_cookie(const std::string& key) {
    // A year: the bookmark with the key is needed again only after that.
    return std::string(web_cookie_name) + "=" + key + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict";
}

bool same_key(std::string_view given, std::string_view key) {
    if (given.size() != key.size() || key.empty()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < key.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ key[i]);
    return differ == 0;
}

bool host_allowed(std::string_view host, const web_host_names& names) {
    const host_parts parts = split_host(trimmed(host));
    if (parts.port == -2 || parts.name.empty()) return false;
    // A browser leaves out the port only where it is 80.
    const long port = parts.port == -1 ? 80 : parts.port;
    if (is_loopback_name(parts.name) && (is_loopback_name(names.listening) || is_loopback_name(names.reached)))
        return true;
    if (port != names.port) return false;
    const bool any_address = names.listening == "0.0.0.0" || names.listening == "::";
    if (!any_address && same_name(parts.name, names.listening)) return true;
    if (!names.reached.empty() && same_name(parts.name, names.reached)) return true;
    if (names.machine.empty()) return false;
    if (same_name(parts.name, names.machine)) return true;
    const std::string local = names.machine + ".local";
    return same_name(parts.name, local);
}

bool origin_allowed(std::string_view origin, std::string_view host) {
    host = trimmed(host);
    origin = trimmed(origin);
    constexpr std::string_view scheme = "http://";
    return !host.empty() && origin.size() == scheme.size() + host.size() && origin.substr(0, scheme.size()) == scheme &&
           same_name(origin.substr(scheme.size()), host);
}

int64_t wrong_key_delay::turn(const std::string& address, int64_t now_ms) {
    auto found = kept_.find(address);
    if (found == kept_.end() || found->second.wrong < free_tries) return now_ms;
    record& kept = found->second;
    const int64_t at = std::max(now_ms, kept.next_ms);
    if (at - now_ms > 2 * try_ms) return -1;
    kept.next_ms = at + try_ms;
    kept.last_ms = now_ms;
    return at;
}

void wrong_key_delay::wrong(const std::string& address, int64_t now_ms) {
    auto found = kept_.find(address);
    if (found == kept_.end()) {
        if (kept_.size() >= most_addresses) {
            auto oldest = std::min_element(kept_.begin(), kept_.end(), [](const auto& a, const auto& b) {
                return a.second.last_ms < b.second.last_ms;
            });
            kept_.erase(oldest);
        }
        found = kept_.emplace(address, record{}).first;
    }
    record& kept = found->second;
    if (kept.wrong < free_tries) ++kept.wrong;
    if (kept.wrong >= free_tries && kept.next_ms < now_ms + try_ms) kept.next_ms = now_ms + try_ms;
    kept.last_ms = now_ms;
}

void wrong_key_delay::right(const std::string& address) {
    kept_.erase(address);
}

std::string web_command_line(std::string_view path) {
    constexpr std::string_view prefix = "/command/";
    if (path.substr(0, prefix.size()) != prefix) return "";
    const std::string_view name = path.substr(prefix.size());
    // The buttons, as the control commands of the same names; +1 Hz and
    // -1 Hz are the + and - keys.
    static constexpr struct {
        const char* path;
        const char* command;
        const char* argument;
    } commands[] = {
        {"pause", "pause", nullptr}, {"resume", "resume", nullptr}, {"skip", "skip", nullptr},
        {"back", "back", nullptr},   {"up", "add", "1"},            {"down", "add", "-1"},
        {"quit", "quit", nullptr},
    };
    for (const auto& command : commands)
        if (name == command.path) return control_request_line(command.command, command.argument);
    return "";
}
