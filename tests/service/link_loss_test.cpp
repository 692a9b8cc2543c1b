// Links that go silent without closing (a pulled cable, a frozen host): through real velmor processes, a room
// server drops a peer that stops answering and frees its seat, a local service tells its client that the
// link is lost when its room server freezes, and neither end cuts a peer that is only quiet or slow, nor one
// that does not keep its link alive (an older program).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "eventually.h"
#include "local_service_process.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "service/room_hub.h"
#include "wire/protocol.h"

namespace {

// The silence after which a link is given up. Short where the other end is frozen on purpose (or never keeps
// the link alive): nothing live is judged by it. Longer where a live end must stay, which it does only as
// long as it gets to send its keepalives: a process starved for most of the short one on a loaded machine
// would be cut. The generous limits on what the tests wait for are only there so that a fault fails the test
// instead of hanging it.
constexpr int kLinkTimeoutMs = 2000;
constexpr int kLiveLinkTimeoutMs = 5000;
constexpr int kNoticedWithinMs = 60000;
const std::string kLinkTimeout = std::to_string(kLinkTimeoutMs);
const std::string kLiveLinkTimeout = std::to_string(kLiveLinkTimeoutMs);

// A process paused (SIGSTOP: its kernel still takes and acknowledges data, the program answers nothing), and
// resumed at the end of the scope whatever happens in between.
class Paused {
public:
    explicit Paused(pid_t pid) : pid_(pid) { stopped_ = kill(pid_, SIGSTOP) == 0; }
    ~Paused() { resume(); }
    bool stopped() const { return stopped_; }
    void resume() {
        if (stopped_)
            kill(pid_, SIGCONT);
        stopped_ = false;
    }

private:
    pid_t pid_;
    bool stopped_ = false;
};

bool left(const std::vector<Packet>& packets, uint32_t user) {
    for (const Packet& p : packets)
        if (p.type == pkt::kUserLeft &&
            proto::UserLeft::decode(p.payload.data(), p.payload.size())->user_id == user)
            return true;
    return false;
}

bool has_type(const std::vector<Packet>& packets, uint16_t type) {
    for (const Packet& p : packets)
        if (p.type == type)
            return true;
    return false;
}

// Waits for user `user` to leave, as `watcher` sees it; what else arrives meanwhile is kept in `seen`.
bool sees_leave(RoomPeer& watcher, uint32_t user, int timeout_ms, std::vector<Packet>* seen) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        auto p = watcher.next(200);
        if (!p)
            continue;
        seen->push_back(*p);
        if (left({*p}, user))
            return true;
    }
    return false;
}

// The process's log has (or soon has: it is read on another thread) a line with `text`.
template <typename Process> bool logged(const Process& process, const std::string& text) {
    return eventually([&] { return process.output().find(text) != std::string::npos; }, 5000);
}

proto::ChatLine chat_line(const std::string& text) {
    proto::ChatLine line;
    line.text = text;
    return line;
}

} // namespace

// A peer that keeps its link alive and then stops reading and writing (a frozen local service whose kernel
// still acknowledges) is dropped within the bound and its seat is free again. Beside it, a peer that keeps
// its link alive but reads nothing (a slow receiver), and one that never said it keeps its link alive (an
// older local service, a bot) and is quiet, stay in the room; the older one never sees a keepalive.
TEST(LinkLoss, RoomServerDropsAPeerThatStopsAnsweringAndFreesItsSeat) {
    RoomServerProcess server("velmor", "", {"--link-timeout", kLiveLinkTimeout});
    ASSERT_NE(server.port(), 0);
    RoomPeer watcher, frozen, older, slow;
    ASSERT_TRUE(watcher.connect(server.port()));
    ASSERT_EQ(login_peer(watcher, 200, 7), 0);

    ASSERT_TRUE(frozen.connect(server.port()));
    ASSERT_EQ(login_peer(frozen, 100, 7, proto::Login::kKeepAliveFlag), 0);
    auto announced = frozen.wait_for(pkt::kKeepAlive);
    ASSERT_TRUE(announced.has_value()) << "the room server says that it keeps the link alive";
    EXPECT_EQ(
        proto::KeepAlive::decode(announced->payload.data(), announced->payload.size())->silence_limit_ms,
        uint32_t(kLiveLinkTimeoutMs));

    ASSERT_TRUE(older.connect(server.port()));
    ASSERT_EQ(login_peer(older, 300, 7), 0);

    ASSERT_TRUE(slow.connect(server.port()));
    ASSERT_EQ(login_peer(slow, 400, 7, proto::Login::kKeepAliveFlag), 0);
    std::atomic<bool> stop{false};
    std::thread keeper([&] {
        // Alive, but reads nothing from here on.
        const auto k = proto::KeepAlive{uint32_t(kLiveLinkTimeoutMs)}.encode();
        while (!stop) {
            slow.send(pkt::kKeepAlive, k);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });

    // From here `frozen` neither reads nor writes; `older` reads nothing and says nothing.
    std::vector<Packet> seen;
    const bool dropped = sees_leave(watcher, 100, kNoticedWithinMs, &seen);
    EXPECT_TRUE(dropped) << "the silent peer is dropped within " << kNoticedWithinMs << " ms";
    EXPECT_TRUE(logged(server, "nothing heard for")) << server.output();

    // A whole bound more, as the room server counts it: a peer that keeps its link alive, logs in now and
    // says nothing is dropped only after it. By then the others have been quiet (or have kept their links
    // alive) for twice the bound, and nobody else left.
    RoomPeer later;
    ASSERT_TRUE(later.connect(server.port()));
    ASSERT_EQ(login_peer(later, 500, 7, proto::Login::kKeepAliveFlag), 0);
    EXPECT_TRUE(sees_leave(watcher, 500, kNoticedWithinMs, &seen)) << "the later silent peer is dropped too";
    EXPECT_FALSE(left(seen, 300)) << "a quiet peer that does not keep its link alive stays";
    EXPECT_FALSE(left(seen, 400)) << "a peer that keeps its link alive but reads slowly stays";
    stop = true;
    keeper.join();

    // Its seat is free: the same user logs in afresh, without a session's proof.
    RoomPeer again;
    ASSERT_TRUE(again.connect(server.port()));
    EXPECT_EQ(login_peer(again, 100, 7), 0);
    EXPECT_TRUE(frozen.wait_closed()) << "the frozen peer's connection was closed";

    // The two that stayed are still heard by the room, and the older peer never got a keepalive.
    ASSERT_TRUE(older.send(pkt::kChat, chat_line("older").encode()));
    ASSERT_TRUE(slow.send(pkt::kChat, chat_line("slow").encode()));
    int lines = 0;
    while (lines < 2 && watcher.wait_for(pkt::kChatMessage, 5000))
        ++lines;
    EXPECT_EQ(lines, 2);
    const auto older_got = older.drain(200);
    EXPECT_FALSE(older.wait_closed(0));
    EXPECT_FALSE(has_type(older_got, pkt::kKeepAlive)) << "only a peer that asked gets keepalives";
}

// The room server freezes (its host hangs; its kernel still acknowledges): the local service gives the link
// up, so its client sees the link lost and can reconnect, which works once the room server is back. Before
// that, a quiet room with a live room server keeps the link, and no keepalive reaches the client.
TEST(LinkLoss, LocalServiceReportsTheLinkLostWhenItsRoomServerFreezes) {
    RoomServerProcess server("velmor", "", {"--link-timeout", kLiveLinkTimeout});
    LocalServiceProcess service("127.0.0.1:" + std::to_string(server.port()), {},
                                "link_timeout_ms=" + kLiveLinkTimeout + "\n");
    ASSERT_NE(service.port(), 0);
    RoomPeer client;
    ASSERT_TRUE(client.connect(service.port()));
    ASSERT_EQ(login_peer(client, 12, 7), 0);

    EXPECT_FALSE(client.wait_closed(2 * kLiveLinkTimeoutMs)) << "a quiet link to a live room server stays";
    EXPECT_FALSE(has_type(client.drain(0), pkt::kKeepAlive)) << "keepalives stay between service and server";

    Paused frozen(server.pid());
    ASSERT_TRUE(frozen.stopped());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.wait_closed(kNoticedWithinMs)) << "the client sees its link lost";
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    std::printf("link lost after %lld ms (bound %d ms)\n", static_cast<long long>(ms), kLiveLinkTimeoutMs);
    // The client's reconnect, at once: a service whose last client has gone ends a few seconds later.
    RoomPeer reconnect;
    ASSERT_TRUE(reconnect.connect(service.port()));
    EXPECT_TRUE(logged(service, "nothing heard for")) << service.output();
    frozen.resume();
    EXPECT_EQ(login_peer(reconnect, 12, 7, proto::Login::kReconnectFlag), 0);
}

// The room server freezes before it answers a login (its kernel still accepts the connection and takes the
// login; no keepalive has begun): the local service answers the login within the bound with the failure
// the client shows as the room being out of reach, and a login after the room server is back works.
TEST(LinkLoss, ALoginTheRoomServerNeverAnswersFailsWithinTheBound) {
    RoomServerProcess server("velmor", "", {"--link-timeout", kLinkTimeout});
    LocalServiceProcess service("127.0.0.1:" + std::to_string(server.port()), {},
                                "link_timeout_ms=" + kLinkTimeout + "\n");
    ASSERT_NE(service.port(), 0);
    RoomPeer client;
    ASSERT_TRUE(client.connect(service.port()));

    Paused frozen(server.pid());
    ASSERT_TRUE(frozen.stopped());
    proto::Login login;
    login.user_id = 12;
    login.room_id = 7;
    ASSERT_TRUE(client.send(pkt::kLogin, login.encode()));
    auto answer = client.wait_for(pkt::kLoginResult, kNoticedWithinMs);
    ASSERT_TRUE(answer.has_value()) << "the login is answered";
    EXPECT_EQ(proto::LoginResult::decode(answer->payload.data(), answer->payload.size())->result,
              uint32_t(room::kLoginNoRoomServer));
    EXPECT_FALSE(client.wait_closed(0)) << "the client keeps its link and logs in again by itself";
    EXPECT_TRUE(logged(service, "did not answer the login")) << service.output();

    frozen.resume();
    // Another user: the room server may still be handling the first login's connection.
    EXPECT_EQ(login_peer(client, 13, 7), 0);
}

// The local service freezes (SIGSTOP): the room server drops its connection within the bound and the others
// see its user leave.
TEST(LinkLoss, RoomServerDropsAFrozenLocalService) {
    RoomServerProcess server("velmor", "", {"--link-timeout", kLinkTimeout});
    LocalServiceProcess service("127.0.0.1:" + std::to_string(server.port()), {},
                                "link_timeout_ms=" + kLinkTimeout + "\n");
    RoomPeer watcher, client;
    ASSERT_TRUE(watcher.connect(server.port()));
    ASSERT_EQ(login_peer(watcher, 100, 7), 0);
    ASSERT_TRUE(client.connect(service.port()));
    ASSERT_EQ(login_peer(client, 12, 7), 0);
    ASSERT_TRUE(watcher.wait_for(pkt::kUserEntered).has_value());

    Paused frozen(service.pid());
    ASSERT_TRUE(frozen.stopped());
    std::vector<Packet> seen;
    EXPECT_TRUE(sees_leave(watcher, 12, kNoticedWithinMs, &seen)) << "the frozen service's user leaves";
    EXPECT_TRUE(logged(server, "nothing heard for")) << server.output();
}

// A room server that does not keep links alive (an older one; here one without a time-out) never gets a
// keepalive, which it would take for a broken rule, and its quiet links are not cut by the local service.
TEST(LinkLoss, LocalServiceSendsNoKeepaliveToARoomServerThatDoesNotAskForIt) {
    RoomServerProcess server("velmor", "", {"--link-timeout", "0"});
    LocalServiceProcess service("127.0.0.1:" + std::to_string(server.port()), {},
                                "link_timeout_ms=" + kLinkTimeout + "\n");
    RoomPeer client;
    ASSERT_TRUE(client.connect(service.port()));
    ASSERT_EQ(login_peer(client, 12, 7), 0);
    EXPECT_FALSE(client.wait_closed(3 * kLinkTimeoutMs)) << "the quiet link stays";
    EXPECT_EQ(server.output().find("type 42"), std::string::npos) << server.output();
}
