#pragma once

#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

// Which device of one direction a name chooses, where devices are numbered
// and named by the system (WinMM): a number is a device's number; anything
// else is the beginning of a device's name, compared without regard to
// case, and the first device that matches wins. Device names there are cut
// short at 31 characters, so a beginning is all the user can rely on.
// -1 when nothing matches.
inline int choose_wave_device(const std::vector<std::string>& names, const std::string& wanted) {
    if (wanted.empty()) return -1;
    std::size_t number = 0;
    bool digits = true;
    for (char c : wanted) {
        if (c < '0' || c > '9' || number > names.size()) {
            digits = false;
            break;
        }
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    if (digits && number < names.size()) return static_cast<int>(number);
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    for (std::size_t id = 0; id < names.size(); ++id) {
        const std::string& name = names[id];
        if (name.size() < wanted.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < wanted.size() && same; ++i) same = lower(name[i]) == lower(wanted[i]);
        if (same) return static_cast<int>(id);
    }
    return -1;
}
