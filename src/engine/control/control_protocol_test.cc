#include "engine/control/control_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        {R"({"command": ["toggle"]})", c::toggle, "", ""},
        // Refused where the parser gets too deep, valid or not, so that a
        // line of brackets costs no more than a look at its first bytes.
        {R"({"command": ["skip"], "x": )" + std::string(15, '[') + std::string(15, ']') + "}", c::skip, "", ""},
        {R"({"command": ["skip"], "x": )" + std::string(16, '[') + std::string(16, ']') + "}", c::status, "",
         "nested deeper than 16 levels"},
        {std::string(64 * 1024, '['), c::status, "", "nested deeper than 16 levels"},
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

// A schedule reply written in pieces, as its client takes them, reads as the
// whole one; a tone inserted while it is written is left out before the part
// written (the fault: an entry repeated) and is in it after.
TEST(control_protocol, a_schedule_reply_in_pieces_is_the_whole_reply) {
    char comment[] = "# then\n";
    std::vector<fdt_entry> table;
    for (int i = 0; i < 300; ++i) table.push_back({440.0 + i, i, i % 7 == 0 ? comment : nullptr});
    const std::string whole = control_success("5", control_schedule_data(table.data(), 2, 300));
    for (const size_t piece : {size_t{1}, size_t{100}, size_t{1} << 20}) {
        schedule_reply reply("5", 2, 300);
        std::string written;
        int pieces = 1;
        while (!reply.write(table.data(), 300, piece, written)) ++pieces;
        EXPECT_EQ(written, whole) << piece;
        EXPECT_EQ(pieces > 1, piece < whole.size()) << piece;
    }
    struct insert_case {
        uint32_t index;
        std::string text;
    } inserts[] = {
        {1, "[{\"frequency\":442,\"duration\":2},{\"frequency\":443,\"duration\":3}]"},
        {3, "[{\"frequency\":442,\"duration\":2},{\"frequency\":1,\"duration\":1},{\"frequency\":443,\"duration\":3}]"},
        {4, "[{\"frequency\":442,\"duration\":2},{\"frequency\":443,\"duration\":3},{\"frequency\":1,\"duration\":1}]"},
    };
    for (const insert_case& test : inserts) {
        std::vector<fdt_entry> entries = {{440, 0, nullptr}, {441, 1, nullptr}, {442, 2, nullptr}, {443, 3, nullptr}};
        schedule_reply reply("", 2, 4);
        std::string written;
        EXPECT_FALSE(reply.write(entries.data(), 4, 1, written));  // the first entry
        entries.insert(entries.begin() + test.index, fdt_entry{1, 1, nullptr});
        reply.entry_inserted(test.index);
        while (!reply.write(entries.data(), 5, 1, written)) {
        }
        EXPECT_EQ(written, control_success("", test.text)) << test.index;
    }
}

TEST(control_protocol, lines_sent_and_read_back) {
    EXPECT_EQ(control_success("7"), "{\"request_id\":7,\"error\":\"success\"}\n");
    EXPECT_EQ(control_success("", "[]"), "{\"error\":\"success\",\"data\":[]}\n");
    EXPECT_EQ(control_failure("", "bad \"x\"\n"), "{\"error\":\"bad \\\"x\\\"\\n\"}\n");
    EXPECT_EQ(control_status_data({"paused", 440, 120, 12, 3, 9, 845}),
              R"({"state":"paused","frequency":440,"duration":120,"elapsed":12,"index":3,"entries":9,)"
              R"("left":845,"pass":1,"passes":1,"version":"1.13"})");
    EXPECT_EQ(control_status_data({"waiting to start", 440, 120, 0, 0, 9, 900, "23:00:00", 3600}),
              R"({"state":"waiting to start","frequency":440,"duration":120,"elapsed":0,"index":0,"entries":9,)"
              R"("left":900,"pass":1,"passes":1,"version":"1.13","starts_at":"23:00:00","starts_in":3600})");
    control_status looping{"playing", 440, 120, 0, 1, 9, -1};
    looping.pass = 4;
    looping.passes = 0;
    looping.stops_at = "07:00:00";
    EXPECT_EQ(control_status_data(looping),
              R"({"state":"playing","frequency":440,"duration":120,"elapsed":0,"index":1,"entries":9,)"
              R"("left":null,"pass":4,"passes":null,"version":"1.13","stops_at":"07:00:00"})");
    char comment[] = "# caf\xe9\r\n";  // Latin-1, from an old file
    const fdt_entry entries[] = {{1, 1, nullptr}, {440.5, 120, nullptr}, {0, 0, comment}};
    EXPECT_EQ(control_schedule_data(entries, 1, 3),
              "[{\"frequency\":440.5,\"duration\":120},{\"comment\":\"# caf\xef\xbf\xbd\"}]");
    EXPECT_EQ(control_tone_event(441, 180, 2), "{\"event\":\"tone-start\",\"frequency\":441,\"duration\":180,"
                                               "\"index\":2}\n");
    EXPECT_EQ(control_request_line("add", "-1"), "{\"command\":[\"add\",-1],\"request_id\":1}\n");
    EXPECT_EQ(control_request_line("nearby", "fine"), "{\"command\":[\"nearby\",\"fine\"],\"request_id\":1}\n");

}

// The run's lines as --send reads them: data written back as it came
// (compact), and every line that is not a reply or an event unreadable with
// the reason, never a crash (the fault: a deeply nested reply was built and
// dumped recursively, and overflowed the stack).
TEST(control_protocol, answers_and_what_is_wrong_with_bad_ones) {
    using k = control_answer::kind;
    struct answer_case {
        std::string line;
        k type;
        bool success;
        std::string data;
        std::string error;
        std::string problem;
    };
    const std::string deep = std::string(16, '[') + std::string(16, ']');
    const answer_case cases[] = {
        {R"({"request_id":1,"error":"success","data":{"a":1}})", k::reply, true, R"({"a":1})", "", ""},
        {R"({"error": "success", "data": [ {"b" : [1, 2.5, "x\"y", null, true, {}, []]}, -3 ] })", k::reply, true,
         R"([{"b":[1,2.5,"x\"y",null,true,{},[]]},-3])", "", ""},
        {R"({"data": [1], "error": "success", "data": "again"})", k::reply, true, R"("again")", "", ""},
        {R"({"error":"success","data":{"x":)" + deep.substr(2, 14) + "1" + deep.substr(16, 14) + "}}", k::reply,
         true, R"({"x":)" + deep.substr(2, 14) + "1" + deep.substr(16, 14) + "}", "", ""},
        {R"({"error":"too many clients: at most 16 at once"})", k::reply, false, "",
         "too many clients: at most 16 at once", ""},
        {R"({"event":"end","status":1})", k::event, false, "", "", ""},
        {R"({"event":{"deep":[1]}})", k::event, false, "", "", ""},
        {"[1]", k::unreadable, false, "", "", "not a JSON object"},
        {R"({"error":["success"]})", k::unreadable, false, "", "", "neither a reply nor an event"},
        {R"({"error":7,"data":1})", k::unreadable, false, "", "", "neither a reply nor an event"},
        {R"({"error":"success"} x)", k::unreadable, false, "", "", "not JSON: parse error at line 1, column 21"},
        {"{\"error\":\"\x1b[2J\"}", k::unreadable, false, "", "", "not JSON: "},
        {R"({"error":"success","data":)" + deep + "}", k::unreadable, false, "", "", "nested deeper than 16 levels"},
        {R"({"error":"success","data":)" + std::string(1 << 20, '['), k::unreadable, false, "", "",
         "nested deeper than 16 levels"},
    };
    for (const answer_case& test : cases) {
        const control_answer answer = read_control_answer(test.line);
        const std::string label = test.line.substr(0, 80);
        EXPECT_EQ(answer.type, test.type) << label;
        EXPECT_EQ(answer.success, test.success) << label;
        EXPECT_EQ(answer.data, test.data) << label;
        EXPECT_EQ(answer.error, test.error) << label;
        EXPECT_EQ(answer.problem.substr(0, test.problem.size()), test.problem) << label;
        EXPECT_EQ(answer.problem.empty(), test.problem.empty()) << label;
    }
    // A reply the run writes reads back as it was written.
    char comment[] = "# then\n";
    const fdt_entry entries[] = {{440.5, 120, nullptr}, {0, 0, comment}, {1e6, 1, nullptr}};
    const std::string data = control_schedule_data(entries, 0, 3);
    const std::string line = control_success("1", data);
    EXPECT_EQ(read_control_answer(std::string_view(line).substr(0, line.size() - 1)).data, data);
}

}  // namespace
