#include "process/state.h"

#include "process/exit.h"
#include "process/release.h"
#include "process/settings.h"

platform* current_platform = nullptr;
int build_status = 0;
std::unique_ptr<wave_input> wave_in;
std::unique_ptr<wave_output> wave_out;
FILE* session_file = nullptr;
FILE* mor_file = nullptr;
bool record_incomplete = false;

namespace {

const reset_step ground_reset{[] {
    settings = run_settings{};
    build_status = 0;
    record_incomplete = false;
    pending_signal = 0;
}};

}  // namespace
