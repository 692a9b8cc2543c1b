// Real processes: a user is seated once in the whole cluster, and a node whose Redis hangs goes on serving
// its rooms.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cluster_env.h"
#include "room_peer.h"
#include "room_user.h"
#include "service/room_hub.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

// What a session pushed out hears before it is closed: the words and the final result.
struct PushedOut {
    bool text = false, result5 = false, closed = false;
};
PushedOut watch_pushed_out(User& u, int ms) {
    PushedOut p;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end && !p.closed) {
        auto packet = u.peer.next(20);
        if (!packet) {
            p.closed = u.peer.wait_closed(0);
            continue;
        }
        if (packet->type == pkt::kSystemText) {
            auto t = proto::SystemText::decode(packet->payload.data(), packet->payload.size());
            p.text = t && t->text == room::kGbkLoggedInElsewhere;
        } else if (packet->type == pkt::kLoginResult) {
            auto r = proto::LoginResult::decode(packet->payload.data(), packet->payload.size());
            p.result5 = r && r->result == room::kLoginAlreadyIn;
        }
        u.take(*packet);
    }
    if (!p.closed)
        p.closed = u.peer.wait_closed(100);
    return p;
}

} // namespace

// Rooms 9 (homed on a) and 10 (homed on b). A user in one room logs in to the other through the other node:
// refused with 5, unless it is a reconnect from the same address, which pushes the first session out (told
// why, result 5, closed) wherever it is, the room it was in sees it leave; a seat given up is free again.
TEST(ClusterSeats, AUserIsSeatedOnceInTheWholeCluster) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    auto& a = env.start_node("a");
    auto& b = env.start_node("b");
    User host9, host10;
    host9.id = 1, host10.id = 2;
    ASSERT_EQ(host9.login(a.port(), 9), 0);
    ASSERT_EQ(host10.login(b.port(), 10), 0);

    // Seated in room 9 at its home (a); a second login into room 10 (homed on b) through b.
    User first, second;
    first.id = second.id = 3;
    ASSERT_EQ(first.login(a.port(), 9), 0);
    ASSERT_TRUE(until({&host9, &first}, 5000, [&] { return host9.roster.count(3) > 0; }));
    EXPECT_EQ(second.login(b.port(), 10), 5) << "not a reconnect: refused, as by one room server";
    second.peer.close();
    first.say("still here");
    ASSERT_TRUE(until({&host9, &first}, 5000, [&] { return host9.heard(3, "still here"); }))
        << "the first session goes on";

    // A reconnect from the same address takes the seat over: the first session is sent away.
    User again;
    again.id = 3;
    ASSERT_EQ(again.login(b.port(), 10, proto::Login::kReconnectFlag), 0);
    const PushedOut pushed = watch_pushed_out(first, 5000);
    EXPECT_TRUE(pushed.text) << "told why";
    EXPECT_TRUE(pushed.result5) << "with the result its client takes as final";
    EXPECT_TRUE(pushed.closed);
    EXPECT_TRUE(until({&host9, &host10, &again}, 5000, [&] { return host9.roster.count(3) == 0; }))
        << "room 9 sees the user leave";
    EXPECT_TRUE(until({&host9, &host10, &again}, 5000, [&] { return host10.roster.count(3) > 0; }));

    // Now seated in room 10 through b: a plain login into room 9 through a is refused.
    User third;
    third.id = 3;
    EXPECT_EQ(third.login(a.port(), 9), 5);
    third.peer.close();

    // The same for a session on an edge: user 4 in room 9 through b (its home is a), pushed out by a
    // reconnect into room 10 through a.
    User edge, back;
    edge.id = back.id = 4;
    ASSERT_EQ(edge.login(b.port(), 9), 0);
    ASSERT_TRUE(until({&host9, &edge}, 5000, [&] { return host9.roster.count(4) > 0; }));
    ASSERT_EQ(back.login(a.port(), 10, proto::Login::kReconnectFlag), 0);
    const PushedOut edge_pushed = watch_pushed_out(edge, 5000);
    EXPECT_TRUE(edge_pushed.text && edge_pushed.result5 && edge_pushed.closed);
    EXPECT_TRUE(until({&host9, &host10, &back}, 5000, [&] { return host9.roster.count(4) == 0; }));

    // A seat given up is free: user 3 leaves room 10 and logs in to room 9 plainly.
    again.peer.close();
    ASSERT_TRUE(until({&host10}, 5000, [&] { return host10.roster.count(3) == 0; }));
    int result = -1;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end && result != 0) {
        User fresh;
        fresh.id = 3;
        result = fresh.login(a.port(), 9);
        if (result != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(result, 0);
}

// Redis hangs (SIGSTOP: connections are taken, nothing is answered). The room goes on: chat between users
// on two nodes keeps arriving; a new login is refused with 6 in bounded time instead of hanging; once Redis
// answers again, logins are served and the room is whole.
TEST(ClusterRedisStall, ANodeServesItsRoomsWhileRedisHangsAndRefusesNewLoginsWithSix) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    auto& a = env.start_node("a");
    auto& b = env.start_node("b");
    User host, ann;
    host.id = 1, ann.id = 2;
    ASSERT_EQ(host.login(a.port(), 9), 0);
    ASSERT_EQ(ann.login(b.port(), 9), 0);
    std::vector<User*> both{&host, &ann};
    ASSERT_TRUE(until(both, 5000, [&] { return host.roster.count(2) && ann.roster.count(1); }));

    env.pause_redis();
    const auto paused = Clock::now();
    // A login meanwhile: refused with 6, without hanging.
    User carl;
    carl.id = 3;
    const auto asked = Clock::now();
    const int refused = carl.login(a.port(), 9);
    const double refused_after = std::chrono::duration<double>(Clock::now() - asked).count();
    EXPECT_EQ(refused, 6);
    EXPECT_LT(refused_after, 4.0);
    carl.peer.close();
    // Chat both ways for a while longer than a lease: every line arrives.
    int sent = 0;
    double worst = 0;
    while (Clock::now() - paused < std::chrono::milliseconds(3000)) {
        const std::string from_host = "h" + std::to_string(sent), from_ann = "a" + std::to_string(sent);
        const auto t = Clock::now();
        host.say(from_host);
        ann.say(from_ann);
        ASSERT_TRUE(until(both, 3000, [&] { return ann.heard(1, from_host) && host.heard(2, from_ann); }))
            << "line " << sent << " while Redis hangs";
        worst = std::max(worst, std::chrono::duration<double>(Clock::now() - t).count());
        ++sent;
        until(both, 100, [] { return false; });
    }
    EXPECT_LT(worst, 1.0) << "a line took longer than a second while Redis hung";
    std::printf("Redis hung: login refused with 6 after %.2f s; %d chat lines each way, slowest %.0f ms\n",
                refused_after, sent, worst * 1000);
    env.resume_redis();

    // Redis answers again: logins are served, the room is whole.
    int result = -1;
    const auto end = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < end && result != 0) {
        User again;
        again.id = 3;
        result = again.login(b.port(), 9);
        if (result == 0) {
            carl.peer.close();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(result, 0) << "Redis is back";
    ann.say("after");
    EXPECT_TRUE(until(both, 10000, [&] { return host.heard(2, "after") && host.roster.count(2); }));
}
