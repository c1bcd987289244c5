// libFuzzer target: one line of the control protocol, as a client may send
// anything. The parser must not crash, and whatever it makes of the line,
// the reply built from it must be one valid JSON line that --send reads
// back as a reply.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/control/control_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const control_request request = parse_control_request(line);
    const std::string reply = request.error.empty() ? control_success(request.request_id, "[]")
                                                    : control_failure(request.request_id, request.error);
    if (reply.empty() || reply.back() != '\n' || reply.find('\n') != reply.size() - 1) abort();
    const control_answer answer = read_control_answer(std::string_view(reply).substr(0, reply.size() - 1));
    if (answer.type != control_answer::kind::reply || answer.success != request.error.empty()) abort();
    return 0;
}
