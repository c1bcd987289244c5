#include "cli/file_picker.h"

#include <algorithm>
#include <string>

#include "log/log.h"
#include "process/exit.h"
#include "process/state.h"
#include "schedule/frequency_file.h"

void pick_frequency_files() {
    flush_records();  // the dialog waits for the user
    chooser_result choice = current_platform->chooser.choose("Select Frequency Files", "DATA");
    check_interrupt();  // Ctrl-C while the dialog was up
    if (choice.status == chooser_result::outcome::unsupported) {
        err_printf("%s: -g: not supported on your old operating system\n", program_name);
        exit_closing_files(1);
    }
    if (choice.status != chooser_result::outcome::chosen || choice.strings.empty()) {
        err_printf("%s: %s", program_name,
                   choice.status == chooser_result::outcome::too_many ? "too many frequency files selected\n"
                                                                      : "no frequency files selected\n");
        exit_closing_files(1);
    }
    log_out("#Frequency, Duration\n");
    std::string& first = choice.strings[0];
    std::replace(first.begin(), first.end(), '\\', '/');
    if (choice.strings.size() == 1) {
        log_out("# %s\n", first.c_str());
        build_status = read_frequency_file(first.c_str());
        return;
    }
    for (size_t i = 1; i < choice.strings.size(); ++i) {
        if (choice.strings[i].empty()) continue;
        // Joined in a string: no path is too long to join.
        std::string path = first + "/" + choice.strings[i];
        log_out("# %s\n", path.c_str());
        build_status = read_frequency_file(path.c_str());
        if (build_status != 0) break;
    }
}
