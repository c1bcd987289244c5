#include "platform/linux/chooser/file_chooser_desktop.h"

#include <iostream>

#include "platform/linux/chooser/chooser_backend.h"

namespace {

struct desktop_file_chooser final : file_chooser {
    // The environment is looked at on each choice: the chooser is made at
    // start-up, long before -g asks for it.
    chooser_result choose(const std::string& title, const std::string& initial_dir) override {
        return run_chooser(current_chooser_environment(), title, initial_dir, std::cin, std::cerr);
    }
};

}  // namespace

std::unique_ptr<file_chooser> make_desktop_file_chooser() {
    return std::make_unique<desktop_file_chooser>();
}
