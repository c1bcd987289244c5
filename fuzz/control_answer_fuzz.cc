// libFuzzer target: one line from the run, as --send reads it, since
// whatever answers at the place may send anything. The reader must not
// crash, however deep or long the line; and the data of a reply it takes
// must be one compact JSON value that reads back as itself.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/control/control_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const control_answer answer = read_control_answer(line);
    if ((answer.type == control_answer::kind::unreadable) == answer.problem.empty()) abort();
    if (answer.type != control_answer::kind::reply || answer.data.empty()) return 0;
    if (answer.data.find('\n') != std::string::npos) abort();
    const std::string again = "{\"error\":\"success\",\"data\":" + answer.data + "}";
    const control_answer reread = read_control_answer(again);
    if (reread.type != control_answer::kind::reply || !reread.success || reread.data != answer.data) abort();
    return 0;
}
