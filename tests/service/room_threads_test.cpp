// A room server whose rooms are spread over two threads, driven through real sockets: each room works as on
// one thread, a user holds one seat in the whole server, and what a connection sends right behind its login
// is not lost on its way to its room's thread.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "room_peer.h"
#include "service/room_server.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

// A room server with rooms on two threads (rooms with an even id on the accepting thread, odd ones on the
// other), its accepting thread run here.
class TwoThreadServer {
public:
    explicit TwoThreadServer(int login_timeout_ms = 5000) {
        RoomServerOptions o;
        o.listen = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0);
        o.threads = 2;
        o.limits.login_timeout_ms = login_timeout_ms;
        o.hub.log = [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            log_.push_back(line);
        };
        server_ = std::make_unique<RoomServer>(io_, o);
        started_ = server_->start();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~TwoThreadServer() {
        asio::post(io_, [this] { server_->stop(); });
        io_.stop();
        thread_.join();
        server_.reset();
    }
    bool started() const { return started_; }
    uint16_t port() const { return server_->port(); }

private:
    asio::io_context io_{1};
    std::unique_ptr<RoomServer> server_;
    std::thread thread_;
    bool started_ = false;
    std::mutex mutex_;
    std::vector<std::string> log_;
};

proto::ChatLine line_to_all(const std::string& text) {
    proto::ChatLine l;
    l.target = 0xFFFFFFFF;
    l.text = text;
    return l;
}

std::optional<std::string> chat_text(RoomPeer& p, int timeout_ms = 3000) {
    auto c = p.wait_for(pkt::kChatMessage, timeout_ms);
    if (!c)
        return std::nullopt;
    auto l = proto::ChatLine::decode(c->payload.data(), c->payload.size());
    return l ? std::optional<std::string>(l->text) : std::nullopt;
}

} // namespace

TEST(RoomThreads, EachRoomWorksOnItsThreadAndAUserHasOneSeatInTheServer) {
    TwoThreadServer server;
    ASSERT_TRUE(server.started());
    RoomPeer a, b, c;
    ASSERT_TRUE(a.connect(server.port()));
    ASSERT_TRUE(b.connect(server.port()));
    ASSERT_TRUE(c.connect(server.port()));
    ASSERT_EQ(login_peer(a, 100, 7), 0);
    ASSERT_EQ(login_peer(b, 200, 7), 0);
    ASSERT_EQ(login_peer(c, 300, 8), 0);
    EXPECT_TRUE(b.wait_for(pkt::kUserPresent).has_value());
    EXPECT_TRUE(a.wait_for(pkt::kUserEntered).has_value());
    ASSERT_TRUE(a.send(pkt::kChat, line_to_all("seven").encode()));
    EXPECT_EQ(chat_text(b), "seven");
    ASSERT_TRUE(c.send(pkt::kChat, line_to_all("eight").encode()));
    EXPECT_FALSE(chat_text(a, 300).has_value()) << "rooms stay apart";

    // The same user in a room of the other thread: refused, unless it is a reconnect of that very session,
    // which takes the seat over; the session pushed out is told on its own thread.
    auto token = b.wait_for(pkt::kSessionToken);
    ASSERT_TRUE(token);
    RoomPeer twin;
    ASSERT_TRUE(twin.connect(server.port()));
    EXPECT_EQ(login_peer(twin, 200, 8), int(room::kLoginAlreadyIn));
    RoomPeer back;
    ASSERT_TRUE(back.connect(server.port()));
    proto::Login l;
    l.user_id = 200;
    l.room_id = 8;
    l.flags = proto::Login::kReconnectFlag;
    l.token = proto::SessionToken::decode(token->payload.data(), token->payload.size())->token;
    ASSERT_TRUE(back.send(pkt::kLogin, l.encode()));
    auto r = back.wait_for(pkt::kLoginResult);
    ASSERT_TRUE(r);
    EXPECT_EQ(proto::LoginResult::decode(r->payload.data(), r->payload.size())->result, 0u);
    EXPECT_TRUE(b.wait_for(pkt::kSystemText).has_value());
    auto final_result = b.wait_for(pkt::kLoginResult);
    ASSERT_TRUE(final_result);
    EXPECT_EQ(proto::LoginResult::decode(final_result->payload.data(), final_result->payload.size())->result,
              room::kLoginAlreadyIn);
    EXPECT_TRUE(b.wait_closed());
    EXPECT_TRUE(a.wait_for(pkt::kUserLeft).has_value()) << "the old room sees the user go";
    EXPECT_TRUE(c.wait_for(pkt::kUserEntered).has_value()) << "the new room sees the user come";
}

TEST(RoomThreads, WhatFollowsALoginAtOnceReachesTheRoom) {
    TwoThreadServer server;
    ASSERT_TRUE(server.started());
    for (uint32_t room : {7u, 8u}) {
        RoomPeer listener, talker;
        ASSERT_TRUE(listener.connect(server.port()));
        ASSERT_EQ(login_peer(listener, 100 + room, room), 0);
        ASSERT_TRUE(talker.connect(server.port()));
        proto::Login l;
        l.user_id = 200 + room;
        l.room_id = room;
        // The login and two chat lines in one write.
        std::vector<uint8_t> bytes = framing::make_frame(pkt::kLogin, l.encode());
        for (const char* text : {"one", "two"}) {
            const auto f = framing::make_frame(pkt::kChat, line_to_all(text).encode());
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        ASSERT_TRUE(talker.send_raw(bytes));
        EXPECT_EQ(chat_text(listener), "one") << "room " << room;
        EXPECT_EQ(chat_text(listener), "two") << "room " << room;
    }
}

TEST(RoomThreads, ConnectionsWithoutALoginAreClosed) {
    TwoThreadServer server(300);
    ASSERT_TRUE(server.started());
    RoomPeer chatter, silent, member;
    ASSERT_TRUE(chatter.connect(server.port()));
    ASSERT_TRUE(chatter.send(pkt::kChat, line_to_all("hello").encode()));
    EXPECT_TRUE(chatter.wait_closed()) << "a first frame other than a login";
    ASSERT_TRUE(silent.connect(server.port()));
    ASSERT_TRUE(member.connect(server.port()));
    ASSERT_EQ(login_peer(member, 100, 7), 0);
    EXPECT_TRUE(silent.wait_closed(3000)) << "no login in time";
    EXPECT_FALSE(member.wait_closed(500)) << "a member stays";
}

// Connections that come and go while the server's table of links grows several times: every packet still
// reaches the connection it is addressed to. Many come and go first, so that the ids outgrow the table
// before it grows; then a ring of private lines, each naming its receiver, goes round the room: a line that
// went to another connection leaves its receiver without it.
TEST(RoomThreads, PacketsReachTheirOwnConnectionWhileConnectionsComeAndGo) {
    TwoThreadServer server;
    ASSERT_TRUE(server.started());
    std::vector<std::unique_ptr<RoomPeer>> peers;
    std::vector<uint32_t> users;
    auto join = [&](uint32_t user) {
        auto p = std::make_unique<RoomPeer>();
        ASSERT_TRUE(p->connect(server.port()));
        ASSERT_EQ(login_peer(*p, user, 7), 0) << "user " << user;
        peers.push_back(std::move(p));
        users.push_back(user);
    };
    auto leave = [&](size_t i) {
        peers[i]->close();
        peers.erase(peers.begin() + long(i));
        users.erase(users.begin() + long(i));
    };
    uint32_t next_user = 1;
    for (; next_user <= 10; ++next_user)
        join(next_user);
    for (; next_user <= 80; ++next_user) {
        join(next_user);
        leave(next_user % 2 == 0 ? 0 : peers.size() / 2);
    }
    for (; next_user <= 120; ++next_user)
        join(next_user);
    const size_t n = peers.size();
    for (size_t i = 0; i < n; ++i) {
        proto::ChatLine l;
        l.private_flag = 1;
        l.target = users[(i + 1) % n];
        l.text = std::to_string(l.target);
        ASSERT_TRUE(peers[i]->send(pkt::kChat, l.encode()));
    }
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(chat_text(*peers[i]), std::to_string(users[i])) << "user " << users[i];
}
