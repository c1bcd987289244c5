#include "platform/control_channel.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#endif

#include "support/run_harness.h"

namespace {

bool ready_within(const wait_handle& handle, int ms) {
#ifdef _WIN32
    return WaitForSingleObject(reinterpret_cast<HANDLE>(handle.handle), static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
#else
    pollfd ready{static_cast<int>(handle.handle),
                 static_cast<short>(handle.when == wait_handle::ready::to_write ? POLLOUT : POLLIN), 0};
    return poll(&ready, 1, ms) > 0;
#endif
}

// The run sleeps in one wait on these handles: one that is not ready when a
// client, a line, a hang-up or room has come leaves a command to the next
// deadline, and one that stays ready keeps the run awake.
TEST(control_channel, its_handles_are_ready_when_there_is_something_to_do_and_only_then) {
    tq_test::temp_dir dir;
    auto channel = make_system_control_channel();
#ifdef _WIN32
    const std::string address = channel->named_address("tonquel-test-" + std::to_string(std::random_device{}()));
#else
    const std::string address = dir.path() + "/control";
#endif
    std::string error;
    auto listener = channel->listen(address, false, error);
    ASSERT_TRUE(listener) << error;
    const wait_handle arrival = listener->ready_handle();
    ASSERT_FALSE(arrival.empty());
    EXPECT_FALSE(ready_within(arrival, 0)) << "nobody came";

    control_reach reach = channel->connect(address, false);
    ASSERT_TRUE(reach.connection) << reach.error;
    EXPECT_TRUE(ready_within(arrival, 2000)) << "a client came";
    control_client_connection taken = listener->accept();
    ASSERT_TRUE(taken.connection);
    EXPECT_FALSE(listener->accept().connection);
    EXPECT_FALSE(ready_within(arrival, 0)) << "the only client was taken";

    control_connection& run_end = *taken.connection;
    control_connection& client_end = *reach.connection;
    const wait_handle input = run_end.ready_handle(false);
    const wait_handle room = run_end.ready_handle(true);
    char buffer[64 * 1024];
    EXPECT_FALSE(ready_within(input, 0)) << "nothing was sent";
    EXPECT_TRUE(ready_within(room, 0)) << "an idle channel takes data";
    ASSERT_EQ(client_end.send("status\n", 7), 7);
    EXPECT_TRUE(ready_within(input, 2000)) << "a line came";
    EXPECT_EQ(run_end.receive(buffer, 3), 3);
    EXPECT_TRUE(ready_within(input, 0)) << "the rest of the line waits";
    EXPECT_EQ(run_end.receive(buffer, sizeof buffer), 4);
    EXPECT_FALSE(ready_within(input, 0)) << "all was read";

    // A client that does not read: the run's end fills, and is ready again
    // only once the client has taken what waits.
    int full_after = 0;
    while (run_end.send(buffer, sizeof buffer) > 0 && full_after < 1000) ++full_after;
    ASSERT_LT(full_after, 1000) << "the channel never filled";
    EXPECT_FALSE(ready_within(room, 0)) << "the channel is full";
    while (client_end.wait_for_input(200) && client_end.receive(buffer, sizeof buffer) > 0) {
    }
    EXPECT_TRUE(ready_within(room, 2000)) << "the client took it all";

    reach.connection.reset();
    EXPECT_TRUE(ready_within(input, 2000)) << "the client went";
    EXPECT_EQ(run_end.receive(buffer, sizeof buffer), -1);
}

}  // namespace
