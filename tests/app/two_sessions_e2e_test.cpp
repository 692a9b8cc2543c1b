// Two copies of the client for one user, each with its relaying velmor, in one room: they settle at once -
// the first stays in the room, the second is told that the user is in already and stops; nobody keeps
// pushing the other out.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>

#include "installation.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "wire/protocol.h"

TEST(TwoSessionsEndToEnd, TwoClientsOfOneUserSettleWithinTwoSeconds) {
    RoomServerProcess server;
    const uint16_t port = server.port();
    ASSERT_NE(port, 0);
    RoomPeer teacher;
    ASSERT_TRUE(teacher.connect(port));
    ASSERT_EQ(login_peer(teacher, 100, 7), 0);

    const std::string settings = "[room]\nserver=127.0.0.1:" + std::to_string(port) + "\n";
    Installation first(settings, true), second(settings, true);
    pid_t a = first.start("client", "userid=12&roomid=7", 60000);
    ClientReaper reap_a{a, first.folder()};
    ASSERT_TRUE(first.wait_for_report("client", "notice=登录成功！\n", 15000)) << first.errors("client");
    ASSERT_TRUE(teacher.wait_for(pkt::kUserEntered, 3000));

    pid_t b = second.start("client", "userid=12&roomid=7", 60000);
    ClientReaper reap_b{b, second.folder()};
    // The second copy's login is answered: the user is in already. (The time includes the start-up of the
    // program and of its service.)
    const auto start = std::chrono::steady_clock::now();
    bool told = false;
    while (!told && std::chrono::steady_clock::now() - start < std::chrono::seconds(15)) {
        told = second.errors("client").find("用户已登录") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(told) << second.errors("client") << second.report("client");
    const double told_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Settled: for three seconds nothing changes hands.
    const auto packets = teacher.drain(3000);
    int left = 0, entered = 0;
    for (const Packet& p : packets) {
        left += p.type == pkt::kUserLeft;
        entered += p.type == pkt::kUserEntered;
    }
    EXPECT_EQ(left, 0) << "the first copy keeps its seat";
    EXPECT_EQ(entered, 0);
    EXPECT_EQ(count_of(first.report("client"), "notice=登录成功！\n"), 1u);
    EXPECT_EQ(count_of(second.report("client"), "notice=登录成功！\n"), 0u);
    EXPECT_EQ(count_of(first.report("client"), "与服务端断开连接"), 0u)
        << "the first copy never lost its link";
    EXPECT_EQ(count_of(second.report("client"), "link_state=正在重新连接"), 0u)
        << "the second does not retry";
    std::printf("second copy told %.2f s after its start\n", told_s);

    kill(a, SIGTERM);
    kill(b, SIGTERM);
    EXPECT_EQ(wait_process(a, 10000).value_or(-1), 0);
    EXPECT_EQ(wait_process(b, 10000).value_or(-1), 0);
}
