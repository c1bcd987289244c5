#include "engine/control_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(control_protocol, requests_and_what_is_wrong_with_bad_lines) {
    struct request_case {
        std::string line;
        control_command command;
        std::string request_id;
        std::string error;
    };
    using c = control_command;
    const request_case cases[] = {
        {R"({"command": ["skip"], "request_id": 7})", c::skip, "7", ""},
        {R"({"request_id": "a\"b", "command": ["status"]})", c::status, R"("a\"b")", ""},
        {R"({"command": ["add", 1]})", c::add_above, "", ""},
        {R"({"command": ["add", -1.0]})", c::add_below, "", ""},
        {R"({"command": ["nearby", "coarse"]})", c::nearby_coarse, "", ""},
        {R"({"command": ["nearby", "fine"]})", c::nearby_fine, "", ""},
        // The parser's own words follow where it stopped.
        {"skip", c::status, "", "not JSON: parse error at line 1, column 1: "},
        {R"({"command": ["skip"]} x)", c::status, "", "not JSON: parse error at line 1, column 23: "},
        {R"(["skip"])", c::status, "", "not a JSON object"},
        {R"({"request_id": 3})", c::status, "3", "no \"command\""},
        {R"({"command": "skip"})", c::status, "", "\"command\" is not a list that starts with a command's name"},
        {R"({"command": ["jump"], "request_id": 2})", c::status, "2", "unknown command \"jump\""},
        {R"({"command": ["skip", 1]})", c::skip, "", "\"skip\" takes no arguments"},
        {R"({"command": ["add", 2]})", c::status, "", "\"add\" takes 1 or -1"},
        {R"({"command": ["nearby", 1]})", c::status, "", "\"nearby\" takes \"coarse\" or \"fine\""},
        // Echoing a structure would cost as deep a recursion as the line allows.
        {R"({"command": ["skip"], "request_id": [[[]]]})", c::status, "",
         "\"request_id\" is neither a number nor a string"},
    };
    for (const request_case& test : cases) {
        const control_request request = parse_control_request(test.line);
        EXPECT_EQ(request.error.substr(0, test.error.size()), test.error) << test.line;
        EXPECT_EQ(request.error.empty(), test.error.empty()) << test.line;
        EXPECT_EQ(request.request_id, test.request_id) << test.line;
        if (test.error.empty()) {
            EXPECT_EQ(request.command, test.command) << test.line;
        }
    }
}

TEST(control_protocol, lines_sent_and_read_back) {
    EXPECT_EQ(control_success("7"), "{\"request_id\":7,\"error\":\"success\"}\n");
    EXPECT_EQ(control_success("", "[]"), "{\"error\":\"success\",\"data\":[]}\n");
    EXPECT_EQ(control_failure("", "bad \"x\"\n"), "{\"error\":\"bad \\\"x\\\"\\n\"}\n");
    EXPECT_EQ(control_status_data({"paused", 440, 120, 12, 3, 9, 845}),
              R"({"state":"paused","frequency":440,"duration":120,"elapsed":12,"index":3,"entries":9,)"
              R"("left":845,"version":"1.13"})");
    char comment[] = "# caf\xe9\r\n";  // Latin-1, from an old file
    const fdt_entry entries[] = {{1, 1, nullptr}, {440.5, 120, nullptr}, {0, 0, comment}};
    EXPECT_EQ(control_schedule_data(entries, 1, 3),
              "[{\"frequency\":440.5,\"duration\":120},{\"comment\":\"# caf\xef\xbf\xbd\"}]");
    EXPECT_EQ(control_tone_event(441, 180, 2), "{\"event\":\"tone-start\",\"frequency\":441,\"duration\":180,"
                                               "\"index\":2}\n");
    EXPECT_EQ(control_request_line("add", "-1"), "{\"command\":[\"add\",-1],\"request_id\":1}\n");
    EXPECT_EQ(control_request_line("nearby", "fine"), "{\"command\":[\"nearby\",\"fine\"],\"request_id\":1}\n");

    const control_answer data = read_control_answer(R"({"request_id":1,"error":"success","data":{"a":1}})");
    EXPECT_EQ(data.type, control_answer::kind::reply);
    EXPECT_TRUE(data.success);
    EXPECT_EQ(data.data, "{\"a\":1}");
    const control_answer refused = read_control_answer(R"({"error":"too many clients: at most 16 at once"})");
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.error, "too many clients: at most 16 at once");
    EXPECT_EQ(read_control_answer(control_end_event(1)).type, control_answer::kind::event);
    EXPECT_EQ(read_control_answer("[1]").type, control_answer::kind::unreadable);
}

}  // namespace
