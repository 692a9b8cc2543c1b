// The scripted load against a real room server process: everything sent arrives, and the report is sound.
#include <gtest/gtest.h>

#include "bots/load_run.h"
#include "room_server_process.h"

TEST(LoadRun, EveryChatLineAndFrameReachesEveryReceiverInSeveralRooms) {
    RoomServerProcess server;
    bots::LoadConfig c;
    ASSERT_TRUE(wait_until_listening(server.port()));
    c.port = server.port();
    c.rooms = 3;
    c.users_per_room = 12;
    c.cameras_per_room = 4;
    c.chat_per_second = 8;
    c.speakers_per_room = 2;
    c.seconds = 3;
    c.server_pid = server.pid();
    std::string error;
    bots::LoadReport r = bots::run_load(c, &error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(r.logged_in, 36);
    // 8 lines a second in each room, each to the 11 others.
    EXPECT_NEAR(double(r.chat_expected), 3 * 8 * 3 * 11, 3 * 11 * 3);
    EXPECT_EQ(r.chat_received, r.chat_expected);
    // Every user watches three cameras of its room; the four camera users watch the three others.
    EXPECT_GT(r.video_expected, uint64_t(3 * 12 * 3 * 15 * 2));
    EXPECT_EQ(r.video_received, r.video_expected);
    // Two speakers a room, 50 packets a second each, to the 11 others.
    EXPECT_NEAR(double(r.voice_expected), 3 * 2 * 50 * 3 * 11, 3 * 2 * 11 * 5);
    EXPECT_EQ(r.voice_received, r.voice_expected);
    EXPECT_GT(r.chat_ms.p50, 0);
    EXPECT_GE(r.chat_ms.p99, r.chat_ms.p50);
    EXPECT_GT(r.rss_start_kb, 0);
    EXPECT_GT(r.rss_end_kb, 0);
}

TEST(LoadRun, NoServerIsAClearError) {
    bots::LoadConfig c;
    const ReservedPort nobody;
    c.port = nobody.port();
    c.seconds = 1;
    std::string error;
    bots::run_load(c, &error);
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}
