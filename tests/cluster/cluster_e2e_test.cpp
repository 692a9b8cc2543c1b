// Room servers as a cluster, through real processes: nats-server, redis-server and velmor nodes on the
// loopback, users as protocol peers on different nodes.
#include <gtest/gtest.h>

#include <httplib.h>

#include <chrono>
#include <regex>
#include <set>
#include <thread>

#include "cluster_env.h"
#include "eventually.h"
#include "room_peer.h"
#include "room_user.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

proto::VideoFrame frame_of(uint32_t n) {
    proto::VideoFrame f;
    f.frame.assign(2000, uint8_t(n));
    f.key_frame = 1;
    return f;
}

proto::VoicePacket voice_of(uint32_t seq) {
    proto::VoicePacket v;
    v.sequence = seq;
    v.opus.assign(60, 0x33);
    return v;
}

// What nats-server counts for each node's connection: messages it received from the node and sent to it.
struct BusCounts {
    uint64_t from_node = 0, to_node = 0;
};
std::map<std::string, BusCounts> bus_counts(uint16_t monitor_port) {
    std::map<std::string, BusCounts> out;
    httplib::Client http("127.0.0.1", monitor_port);
    auto r = http.Get("/connz");
    if (!r || r->status != 200)
        return out;
    // Each connection object holds its name and counters; the fields are read in the order the server writes.
    std::regex conn(
        R"re("in_msgs":\s*(\d+),\s*"out_msgs":\s*(\d+)[^}]*?"name":\s*"velmor ([A-Za-z0-9_-]+)")re");
    for (std::sregex_iterator it(r->body.begin(), r->body.end(), conn), end; it != end; ++it)
        out[(*it)[3]] = BusCounts{std::stoull((*it)[1]), std::stoull((*it)[2])};
    return out;
}

const char* const kDirectory = "host 9 1\nuser 1 Teacher\nuser 2 Ann\nuser 3 Bob\nuser 4 Cid\nuser 5 Dee\n";

} // namespace

// Users on three nodes are in one room: roster, chat (public and private), video only to its watchers and
// once across the bus per node with a watcher, voice only with the speak right granted by the host on
// another node, the chat right taken away by the host.
TEST(ClusterEndToEnd, UsersOnThreeNodesShareOneRoom) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    auto& a = env.start_node("a", kDirectory);
    auto& b = env.start_node("b", kDirectory);
    auto& c = env.start_node("c", kDirectory);
    User host, ann, bob, cid;
    host.id = 1, ann.id = 2, bob.id = 3, cid.id = 4;
    ASSERT_EQ(host.login(a.port(), 9), 0);
    EXPECT_EQ(host.rights, pkt::kRightHost | pkt::kRightCamera | pkt::kRightSpeak | pkt::kRightChat);
    ASSERT_EQ(ann.login(b.port(), 9), 0);
    EXPECT_EQ(ann.rights, pkt::kRightCamera | pkt::kRightChat) << "the directory's host is on another node";
    ASSERT_EQ(bob.login(c.port(), 9), 0);
    ASSERT_EQ(cid.login(c.port(), 9), 0);
    std::vector<User*> all{&host, &ann, &bob, &cid};
    ASSERT_TRUE(until(all, 5000, [&] {
        for (User* u : all)
            if (u->roster.size() != 3)
                return false;
        return true;
    })) << "everybody sees the three others";

    // Chat in both directions and a private line.
    ann.say("from b");
    host.say("from a");
    bob.say("only for ann", 2);
    ASSERT_TRUE(until(all, 5000, [&] {
        return host.heard(2, "from b") && bob.heard(2, "from b") && cid.heard(2, "from b") &&
               ann.heard(1, "from a") && cid.heard(1, "from a") && ann.heard(3, "only for ann");
    }));
    EXPECT_FALSE(host.heard(3, "only for ann"));
    EXPECT_FALSE(cid.heard(3, "only for ann"));

    // Video: Bob and Cid (node c) watch Ann (node b); the host does not.
    bob.peer.send(pkt::kWatchVideo, proto::WatchVideo{2, 1}.encode());
    cid.peer.send(pkt::kWatchVideo, proto::WatchVideo{2, 1}.encode());
    ASSERT_TRUE(ann.peer.wait_for(pkt::kVideoWanted, 5000)) << "Ann is told somebody watches";
    until(all, 300, [] { return false; });
    const auto before = bus_counts(env.monitor_port());
    ASSERT_EQ(before.size(), 3u) << "nats-server lists the three nodes";
    constexpr int kFrames = 20;
    for (int i = 0; i < kFrames; ++i) {
        ann.peer.send(pkt::kVideoFrame, frame_of(uint32_t(i)).encode());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(until(all, 5000,
                      [&] { return bob.video_from.size() == kFrames && cid.video_from.size() == kFrames; }));
    until(all, 300, [] { return false; });
    EXPECT_TRUE(host.video_from.empty()) << "no frames for a user who does not watch";
    EXPECT_EQ(bob.video_from.front(), 2u);
    const auto after = bus_counts(env.monitor_port());
    // Node b published each frame once; node c (two watchers) received each once; node a (no watcher) none.
    EXPECT_GE(after.at("b").from_node - before.at("b").from_node, uint64_t(kFrames));
    EXPECT_LE(after.at("b").from_node - before.at("b").from_node, uint64_t(kFrames + 8));
    EXPECT_GE(after.at("c").to_node - before.at("c").to_node, uint64_t(kFrames));
    EXPECT_LE(after.at("c").to_node - before.at("c").to_node, uint64_t(kFrames + 8));
    EXPECT_LE(after.at("a").to_node - before.at("a").to_node, 8u) << "video does not pass through the home";

    // Voice: without the right nothing passes; granted by the host on node a, Cid on node c is heard on b.
    cid.peer.send(pkt::kMicrophoneOn, proto::MicrophoneOn{0}.encode());
    for (uint32_t i = 0; i < 5; ++i)
        cid.peer.send(pkt::kVoice, voice_of(i).encode());
    until(all, 500, [] { return false; });
    EXPECT_TRUE(ann.voice_from.empty());
    EXPECT_TRUE(bob.voice_from.empty());
    host.peer.send(pkt::kSpeakControl, proto::SpeakControl{4, 1}.encode());
    ASSERT_TRUE(until(all, 5000, [&] { return (cid.rights & pkt::kRightSpeak) != 0; }));
    cid.peer.send(pkt::kMicrophoneOn, proto::MicrophoneOn{0}.encode());
    for (uint32_t i = 0; i < 10; ++i) {
        cid.peer.send(pkt::kVoice, voice_of(10 + i).encode());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(until(all, 5000, [&] {
        return ann.voice_from.size() == 10 && bob.voice_from.size() == 10 && host.voice_from.size() == 10;
    })) << "the speaker's voice reaches its own node, the home and the third node";
    EXPECT_TRUE(cid.voice_from.empty()) << "nobody hears an echo";
    // Withdrawn: silence again.
    host.peer.send(pkt::kSpeakControl, proto::SpeakControl{4, 0}.encode());
    ASSERT_TRUE(until(all, 5000, [&] { return (cid.rights & pkt::kRightSpeak) == 0; }));
    for (uint32_t i = 0; i < 5; ++i)
        cid.peer.send(pkt::kVoice, voice_of(30 + i).encode());
    until(all, 500, [] { return false; });
    EXPECT_EQ(ann.voice_from.size(), 10u);

    // The host takes Bob's chat right away: his lines go nowhere, the others' still pass.
    host.peer.send(pkt::kRightsChange,
                   proto::RightsChange{3, pkt::kRightChat, pkt::kRightsRemove, 0}.encode());
    ASSERT_TRUE(until(all, 5000, [&] { return (bob.rights & pkt::kRightChat) == 0; }));
    bob.say("muted");
    cid.say("still here");
    ASSERT_TRUE(until(all, 5000, [&] { return ann.heard(4, "still here"); }));
    until(all, 300, [] { return false; });
    EXPECT_FALSE(ann.heard(3, "muted"));
    EXPECT_FALSE(host.heard(3, "muted"));

    // A user leaving on one node is gone for the others.
    cid.peer.close();
    ASSERT_TRUE(until(all, 5000,
                      [&] { return !host.roster.count(4) && !ann.roster.count(4) && !bob.roster.count(4); }));
}

// Chat lines keep their order across nodes, and a node of the cluster answers `velmor --status`.
TEST(ClusterEndToEnd, ChatKeepsItsOrderAndTheNodesReportTheirFigures) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    auto& a = env.start_node("a", kDirectory);
    auto& b = env.start_node("b", kDirectory);
    User host, ann;
    host.id = 1, ann.id = 2;
    ASSERT_EQ(host.login(a.port(), 9), 0);
    ASSERT_EQ(ann.login(b.port(), 9), 0);
    // Ann (an edge) and the host (at the home) send in turn; the chat rate allows ten lines at once.
    for (int i = 0; i < 5; ++i) {
        ann.say("ann " + std::to_string(i));
        host.say("host " + std::to_string(i));
    }
    ASSERT_TRUE(until({&host, &ann}, 5000, [&] { return host.chat.size() == 5 && ann.chat.size() == 5; }));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(host.chat[size_t(i)].second, "ann " + std::to_string(i));
        EXPECT_EQ(ann.chat[size_t(i)].second, "host " + std::to_string(i));
    }
    // The figures: one room homed on a, one user on each node. Each node writes its figures every tick, so
    // the status is asked again until they tell of both users (a loaded machine runs the ticks late).
    TempDir dir;
    const std::string out = dir.file("status.txt");
    const std::string a_line =
        "node a: rooms homed 1, users here 1, users of other nodes in rooms homed here 1";
    const std::string b_line = "node b: rooms homed 0, users here 1";
    std::string status;
    bool answered = true;
    eventually(
        [&] {
            const pid_t pid =
                spawn_process("/bin/sh",
                              {"-c", std::string(QUORIN_INSTALL_DIR) + "/velmor --status --store " +
                                         env.redis_url() + " > " + out},
                              dir.path().string());
            answered = wait_process(pid, 10000) == std::optional<int>(0);
            status = read_file(out);
            return !answered ||
                   (status.find(a_line) != std::string::npos && status.find(b_line) != std::string::npos);
        },
        15000, 200);
    ASSERT_TRUE(answered) << "velmor --status";
    EXPECT_NE(status.find(a_line), std::string::npos) << status;
    EXPECT_NE(status.find(b_line), std::string::npos) << status;
}

// A node that cannot reach NATS or Redis refuses logins with result 6, and serves them once it can.
TEST(ClusterEndToEnd, ANodeWithoutNatsOrRedisRefusesLoginsWithSix) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    env.stop_nats();
    auto& a = env.start_node("a");
    User u;
    u.id = 1;
    EXPECT_EQ(u.login(a.port(), 9), 6) << "no NATS";
    u.peer.close();
    env.start_nats();
    const auto end = Clock::now() + std::chrono::seconds(10);
    int result = -1;
    while (Clock::now() < end && result != 0) {
        User again;
        again.id = 1;
        result = again.login(a.port(), 9);
        if (result == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(result, 0) << "NATS is back";

    env.stop_redis();
    User v;
    v.id = 2;
    EXPECT_EQ(v.login(a.port(), 10), 6) << "no Redis";
}

// The home of a room is killed (kill -9) with users on all three nodes: its users come back through another
// node, the room moves to a new home rebuilt from the other nodes, the host keeps the host's rights, a
// granted speak right is kept, and every chat line sent after the recovery arrives.
TEST(ClusterEndToEnd, TheRoomGoesOnWhenItsHomeIsKilled) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    env.start_node("a", kDirectory);
    auto& b = env.start_node("b", kDirectory);
    auto& c = env.start_node("c", kDirectory);
    const uint16_t a_port = env.node("a").port();
    User host, ann, bob, cid, dee;
    host.id = 1, ann.id = 2, bob.id = 3, cid.id = 4, dee.id = 5;
    ASSERT_EQ(host.login(a_port, 9), 0); // the room is homed on a
    ASSERT_EQ(ann.login(a_port, 9), 0);
    ASSERT_EQ(bob.login(b.port(), 9), 0);
    ASSERT_EQ(cid.login(c.port(), 9), 0);
    ASSERT_EQ(dee.login(c.port(), 9), 0);
    std::vector<User*> all{&host, &ann, &bob, &cid, &dee};
    auto full = [&] {
        for (User* u : all)
            if (u->roster.size() != all.size() - 1)
                return false;
        return true;
    };
    ASSERT_TRUE(until(all, 5000, full));
    host.peer.send(pkt::kSpeakControl, proto::SpeakControl{4, 1}.encode());
    bob.peer.send(pkt::kWatchVideo, proto::WatchVideo{5, 1}.encode());
    ASSERT_TRUE(until(all, 5000, [&] { return (cid.rights & pkt::kRightSpeak) != 0; }));
    cid.peer.send(pkt::kMicrophoneOn, proto::MicrophoneOn{0}.encode());
    until(all, 300, [] { return false; });

    const auto killed = Clock::now();
    env.kill_node("a");
    // The users of a reconnect through b with their sessions' tokens, as their services do, until they are
    // in again.
    for (User* u : {&host, &ann}) {
        ASSERT_TRUE(u->peer.wait_closed(5000));
        u->peer.close();
    }
    auto back_in = [&](User& u) {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < end) {
            const int r = u.login(b.port(), 9, proto::Login::kReconnectFlag, u.token);
            if (r == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    };
    ASSERT_TRUE(back_in(host));
    ASSERT_TRUE(back_in(ann));
    ASSERT_TRUE(until(all, 15000, full)) << "everybody has the full roster again:" << rosters(all);
    const double seconds = std::chrono::duration<double>(Clock::now() - killed).count();
    std::printf("failover: every user back with the full roster %.2f s after the kill\n", seconds);
    EXPECT_TRUE(host.rights & pkt::kRightHost) << "the directory's host is host again";

    // The room works: every line sent now reaches everybody.
    for (User* u : all)
        u->say("after " + std::to_string(u->id));
    ASSERT_TRUE(until(all, 5000, [&] {
        for (User* to : all)
            for (User* from : all)
                if (to != from && !to->heard(from->id, "after " + std::to_string(from->id)))
                    return false;
        return true;
    })) << "no chat line sent after the recovery is lost";

    // Rebuilt from the edges: Cid's speak right and microphone, Bob's watch of Dee.
    for (uint32_t i = 0; i < 5; ++i)
        cid.peer.send(pkt::kVoice, voice_of(100 + i).encode());
    dee.peer.send(pkt::kVideoFrame, frame_of(1).encode());
    EXPECT_TRUE(until(all, 5000, [&] { return bob.voice_from.size() >= 5 && host.voice_from.size() >= 5; }));
    EXPECT_TRUE(until(all, 5000, [&] { return !bob.video_from.empty(); }));
    // A newcomer sees the rights the room had: Cid may speak.
    User eve;
    eve.id = 6;
    ASSERT_EQ(eve.login(c.port(), 9), 0);
    bool cid_speaks = false;
    for (const Packet& p : eve.peer.drain(300))
        if (p.type == pkt::kUserPresent)
            if (auto blk = proto::UserBlock::decode(p.payload.data(), p.payload.size());
                blk && blk->user_id == 4)
                cid_speaks = (blk->rights & pkt::kRightSpeak) != 0;
    EXPECT_TRUE(cid_speaks) << "the new home has the speak right the old one gave";
    // Bob's watch of Dee came back: when he stops, Dee is told nobody watches any more.
    bob.peer.send(pkt::kWatchVideo, proto::WatchVideo{5, 0}.encode());
    auto wanted = dee.peer.wait_for(pkt::kVideoWanted, 5000);
    ASSERT_TRUE(wanted);
    EXPECT_EQ(proto::VideoWanted::decode(wanted->payload.data(), wanted->payload.size())->wanted, 0);
    // The host (now on b) still rules the room.
    host.peer.send(pkt::kSpeakControl, proto::SpeakControl{3, 1}.encode());
    EXPECT_TRUE(until(all, 5000, [&] { return (bob.rights & pkt::kRightSpeak) != 0; }));
}

// Redis and NATS restart under a running class: the room goes on; while Redis is away new logins are refused
// with 6, and once it is back they are served with the directory loaded again; a short NATS restart is
// bridged without the users reconnecting.
TEST(ClusterEndToEnd, ARestartOfRedisOrNatsIsSurvived) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    auto& a = env.start_node("a", kDirectory);
    auto& b = env.start_node("b", kDirectory);
    User host, ann;
    host.id = 1, ann.id = 2;
    ASSERT_EQ(host.login(a.port(), 9), 0);
    ASSERT_EQ(ann.login(b.port(), 9), 0);
    std::vector<User*> both{&host, &ann};

    env.stop_redis();
    ann.say("redis away");
    EXPECT_TRUE(until(both, 5000, [&] { return host.heard(2, "redis away"); })) << "the room goes on";
    User bob;
    bob.id = 3;
    EXPECT_EQ(bob.login(b.port(), 9), 6);
    env.start_redis();
    int result = -1;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end && (result = bob.login(b.port(), 9)) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(result, 0) << "logins are served again";
    ASSERT_TRUE(until(both, 5000, [&] { return host.roster.count(3) && ann.roster.count(3); }));
    // The directory is back in Redis: a newcomer gets the nickname it names.
    User cid;
    cid.id = 4;
    ASSERT_EQ(cid.login(a.port(), 9), 0);
    EXPECT_EQ(cid.nickname, "Cid");
    std::vector<User*> all{&host, &ann, &bob, &cid};
    ASSERT_TRUE(until(all, 3000, [&] { return ann.roster.count(4); }));

    // NATS restarts; the nodes' clients reconnect and the users stay.
    env.stop_nats();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    env.start_nats();
    bool heard = false;
    for (int i = 0; i < 20 && !heard; ++i) {
        ann.say("nats back " + std::to_string(i));
        heard = until(all, 500, [&] {
            for (const auto& [s, t] : host.chat)
                if (s == 2 && t.rfind("nats back", 0) == 0)
                    return true;
            return false;
        });
    }
    EXPECT_TRUE(heard) << "chat crosses the nodes again after NATS restarted";
    EXPECT_FALSE(host.peer.wait_closed(10)) << "the users did not have to reconnect";
    EXPECT_FALSE(ann.peer.wait_closed(10));
}
