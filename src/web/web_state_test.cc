// The page's JSON, from the run's lines on the control channel.

#include "web/web_state.h"

#include <gtest/gtest.h>

#include <string>

#include "web/web_server.h"

namespace {

const char* const status_440 =
    R"({"request_id":1,"error":"success","data":{"state":"playing","frequency":440,"duration":180,)"
    R"("elapsed":20,"index":3,"entries":12,"left":4000,"version":"1.13"}})";

// The page shows the numbers as the status line prints them: a frequency
// with a fraction kept, times as m:ss and h:mm:ss.
TEST(web_state, the_page_json_tells_what_plays_as_the_status_line_does) {
    const struct {
        const char* status;
        const char* schedule;
        const char* json;
    } cases[] = {
        {status_440,
         R"({"error":"success","data":[{"frequency":440,"duration":180},{"comment":"# x"},)"
         R"({"frequency":440.5,"duration":90},{"frequency":10000,"duration":3600}]})",
         R"({"ended":false,"frequency":"440 Hz","known":true,"lost":false,)"
         R"("next":["440.5 Hz for 1:30","10000 Hz for 1:00:00"],"place":"3 of 12","run_left":"1:06:40",)"
         R"("starts":"","state":"playing","tone_left":"2:40"})"},
        {R"({"error":"success","data":{"state":"paused","frequency":1234.57,"duration":60,"elapsed":61,)"
         R"("index":1,"entries":1,"left":0}})",
         R"({"error":"success","data":[{"frequency":1234.57,"duration":60}]})",
         R"({"ended":false,"frequency":"1234.57 Hz","known":true,"lost":false,"next":[],"place":"1 of 1",)"
         R"("run_left":"0:00","starts":"","state":"paused","tone_left":"0:00"})"},
        // Before the first tone the schedule's first entry is still to come.
        {R"({"error":"success","data":{"state":"waiting to start","frequency":0,"duration":0,"elapsed":0,)"
         R"("index":0,"entries":2,"left":60,"starts_at":"23:00:00","starts_in":3725}})",
         R"({"error":"success","data":[{"frequency":440,"duration":30},{"frequency":880,"duration":30}]})",
         R"({"ended":false,"frequency":"","known":true,"lost":false,"next":["440 Hz for 0:30","880 Hz for 0:30"],)"
         R"("place":"","run_left":"1:00","starts":"starts 23:00:00, in 1:02:05","state":"waiting to start",)"
         R"("tone_left":""})"},
    };
    for (const auto& row : cases) {
        web_run_view view;
        ASSERT_TRUE(read_status_reply(row.status, view)) << row.status;
        ASSERT_TRUE(read_schedule_reply(row.schedule, view)) << row.schedule;
        EXPECT_EQ(web_page_json(view), row.json);
    }
}

// A page that keeps showing the last tone after the end, or nothing before
// the first status, would mislead whoever looks at the phone.
TEST(web_state, the_end_and_a_lost_run_are_told) {
    web_run_view view;
    EXPECT_EQ(web_page_json(view),
              R"({"ended":false,"frequency":"","known":false,"lost":false,"next":[],"place":"","run_left":"",)"
              R"("starts":"","state":"starting","tone_left":""})");
    ASSERT_TRUE(read_status_reply(status_440, view));
    view.lost = true;
    EXPECT_NE(web_page_json(view).find(R"("state":"no answer from the run")"), std::string::npos);
    const web_run_line end = read_run_line(R"({"event":"end","status":3})");
    EXPECT_EQ(end.type, web_run_line::kind::event);
    view.ended = true;
    view.end_status = end.status;
    EXPECT_EQ(web_page_json(view),
              R"({"ended":true,"frequency":"","known":true,"lost":false,"next":[],"place":"","run_left":"",)"
              R"("starts":"","state":"the run has ended with status 3","tone_left":""})");
}

// Lines the run did not write as replies (cut short, of another shape)
// must not be taken for a status, nor throw on the page's thread.
TEST(web_state, lines_that_are_no_replies_are_told_apart) {
    const struct {
        const char* line;
        web_run_line::kind type;
        const char* error;
    } cases[] = {
        {R"({"error":"success"})", web_run_line::kind::reply, ""},
        {R"({"request_id":1,"error":"the run waits to start at 23:00:00: skip acts once it plays"})",
         web_run_line::kind::reply, "the run waits to start at 23:00:00: skip acts once it plays"},
        {R"({"event":"pause"})", web_run_line::kind::event, ""},
        {R"({"error":"succ)", web_run_line::kind::unreadable, ""},
        {R"([1,2])", web_run_line::kind::unreadable, ""},
        {"", web_run_line::kind::unreadable, ""},
        {R"({"error":7})", web_run_line::kind::unreadable, ""},
    };
    for (const auto& row : cases) {
        const web_run_line read = read_run_line(row.line);
        EXPECT_EQ(read.type, row.type) << row.line;
        EXPECT_EQ(read.error, row.error) << row.line;
    }
    web_run_view view;
    for (const char* line : {R"({"error":"success"})", R"({"error":"success","data":{"state":1}})", "{", ""})
        EXPECT_FALSE(read_status_reply(line, view)) << line;
    EXPECT_FALSE(view.known);
    EXPECT_EQ(web_reply_json("a \"quoted\" \xff text"), R"({"error":"a \"quoted\" � text"})");
}

// The page must load on a LAN without the internet and stay small.
TEST(web_state, the_page_is_one_small_file_with_nothing_from_outside) {
    const std::string page(web_page_html, web_page_size);
    EXPECT_LT(page.size(), 50u * 1024);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    for (const char* outside : {"http://", "https://", "src=", "<link", "@import", "//cdn"})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    for (const char* label : {">Pause<", ">Resume<", ">Skip<", ">Back<", ">+1 Hz<", ">-1 Hz<", ">Quit<"})
        EXPECT_NE(page.find(label), std::string::npos) << label;
}

}  // namespace
