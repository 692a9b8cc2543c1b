// The room server's seats and doors, through a real velmor: a session is pushed out in order and only by
// its own reconnect, squatters cannot keep a real user out, the log stays short under a flood of
// connections, and the local service takes speech only from the room's users.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "local_service_process.h"
#include "memory_bound.h"
#include "platform/process.h"
#include "reporting_process.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "temp_dir.h"
#include "wire/framing.h"
#include "wire/protocol.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const std::string kVelmor = std::string(QUORIN_INSTALL_DIR) + "/velmor";

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

} // namespace

// The session pushed out by its own reconnect reads why, then the final result, then the end of the stream.
TEST(RoomServerGuard, PushedOutSessionReadsTheTextThenResultFiveThenTheEnd) {
    RoomServerProcess server;
    auto first = std::make_unique<RoomPeer>();
    RoomPeer other;
    std::array<uint8_t, 16> token{};
    ASSERT_TRUE(first->connect(server.port()));
    ASSERT_EQ(login_peer(*first, 100, 7, 0, std::nullopt, &token), 0);
    ASSERT_TRUE(other.connect(server.port()));
    ASSERT_EQ(login_peer(other, 200, 7), 0);
    first->drain(200);

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        auto again = std::make_unique<RoomPeer>();
        ASSERT_TRUE(again->connect(server.port()));
        std::array<uint8_t, 16> next{};
        ASSERT_EQ(login_peer(*again, 100, 7, proto::Login::kReconnectFlag, token, &next), 0);
        EXPECT_NE(next, token) << "every session has a token of its own";
        std::vector<uint16_t> types;
        uint32_t result = 99;
        const auto start = Clock::now();
        while (auto p = first->next(2000)) {
            types.push_back(p->type);
            if (p->type == pkt::kLoginResult)
                result = proto::LoginResult::decode(p->payload.data(), p->payload.size())->result;
        }
        EXPECT_TRUE(first->wait_closed(100)) << "the end of the stream follows";
        EXPECT_LT(ms_since(start), 1500.0);
        ASSERT_GE(types.size(), 2u);
        EXPECT_EQ(types[types.size() - 2], pkt::kSystemText);
        EXPECT_EQ(types.back(), pkt::kLoginResult);
        EXPECT_EQ(result, 5u);
        // The other user saw the seat change hands, and nothing else of it.
        EXPECT_TRUE(other.wait_for(pkt::kUserLeft, 2000).has_value());
        EXPECT_TRUE(other.wait_for(pkt::kUserEntered, 2000).has_value());
        first = std::move(again);
        first->drain(100);
        token = next;
    }
    EXPECT_TRUE(process_running(server.pid()));
}

// A seat changes hands only with the token of the session that holds it: not for a fresh login, not for a
// reconnect from the same address without it or with another session's token.
TEST(RoomServerGuard, SeatTakenOverOnlyWithTheSessionsToken) {
    RoomServerProcess server;
    RoomPeer holder, elsewhere;
    std::array<uint8_t, 16> token{}, other_token{};
    ASSERT_TRUE(holder.connect(server.port()));
    ASSERT_EQ(login_peer(holder, 100, 7, 0, std::nullopt, &token), 0);
    ASSERT_TRUE(elsewhere.connect(server.port()));
    ASSERT_EQ(login_peer(elsewhere, 300, 8, 0, std::nullopt, &other_token), 0);

    std::array<uint8_t, 16> wrong = token;
    wrong[15] ^= 1;
    const struct {
        const char* what;
        uint32_t flags;
        std::optional<std::array<uint8_t, 16>> token;
    } tries[] = {{"a fresh login", 0, std::nullopt},
                 {"a fresh login with the token", 0, token},
                 {"a reconnect without a token", proto::Login::kReconnectFlag, std::nullopt},
                 {"a reconnect with a wrong token", proto::Login::kReconnectFlag, wrong},
                 {"a reconnect with another session's token", proto::Login::kReconnectFlag, other_token}};
    for (const auto& t : tries) {
        SCOPED_TRACE(t.what);
        RoomPeer p;
        ASSERT_TRUE(p.connect(server.port()));
        EXPECT_EQ(login_peer(p, 100, 7, t.flags, t.token), 5);
    }
    EXPECT_FALSE(holder.wait_closed(300)) << "the holder keeps its seat";
    RoomPeer back;
    ASSERT_TRUE(back.connect(server.port()));
    EXPECT_EQ(login_peer(back, 100, 7, proto::Login::kReconnectFlag, token), 0);
    EXPECT_TRUE(holder.wait_closed(2000));
}

// The cap on connections waiting for their login is full of idle squatters from 16 addresses: a real user
// still gets in at once, because the oldest squatter makes room.
TEST(RoomServerGuard, SquattersCannotKeepARealLoginOut) {
    RoomServerProcess server;
    ASSERT_TRUE(wait_until_listening(server.port()));
    std::vector<std::unique_ptr<RoomPeer>> squatters;
    for (int address = 0; address < 16; ++address) {
        for (int i = 0; i < 32; ++i) {
            auto p = std::make_unique<RoomPeer>();
            p->set_local_address("127.0.1." + std::to_string(address + 1));
            ASSERT_TRUE(p->connect(server.port()));
            squatters.push_back(std::move(p));
        }
    }
    // Every squatter is in (none was refused), so the cap is full now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int closed = 0;
    for (auto& p : squatters)
        closed += p->wait_closed(0) ? 1 : 0;
    EXPECT_EQ(closed, 0);

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        RoomPeer user;
        const auto start = Clock::now();
        ASSERT_TRUE(user.connect(server.port()));
        EXPECT_EQ(login_peer(user, 100 + uint32_t(round), 7), 0);
        const double ms = ms_since(start);
        std::printf("a login beside 512 squatters: result in %.1f ms\n", ms);
        EXPECT_LT(ms, 1000.0);
        // The newcomer took a squatter's place (the oldest), so the cap is full again for the next round.
        auto p = std::make_unique<RoomPeer>();
        p->set_local_address("127.0.2.1");
        ASSERT_TRUE(p->connect(server.port()));
        squatters.push_back(std::move(p));
    }
    EXPECT_TRUE(squatters.front()->wait_closed(1000)) << "the oldest squatter made room";
    // Nobody waits longer than the login time (5 s) without logging in.
    EXPECT_TRUE(squatters.back()->wait_closed(7000));
    EXPECT_TRUE(process_running(server.pid()));
}

// Thousands of connections that break the rules before their login or whose login is refused, from many
// addresses, make about one log line a second, with a count of the others.
TEST(RoomServerGuard, ConnectionsWithoutALoginShareOneLogLimit) {
    TempDir dir;
    fs::copy_file(kVelmor, dir.path() / "velmor");
    fs::create_directories(dir.path() / "log");
    ReportingProcess server(dir.file("velmor"), {"--room-server", "--listen", "127.0.0.1:0"},
                            dir.path().string());
    const pid_t pid = server.pid();
    const uint16_t port = server.wait_for_port();
    ASSERT_NE(port, 0);
    RoomPeer seated; // user 99 is in: the loop's logins as user 99 are refused
    ASSERT_TRUE(seated.connect(port));
    ASSERT_EQ(login_peer(seated, 99, 7), 0);
    const auto start = Clock::now();
    int connections = 0, connected = 0;
    while (ms_since(start) < 3000) {
        for (int i = 0; i < 20; ++i, ++connections) {
            RoomPeer p;
            p.set_local_address("127.0.3." + std::to_string(1 + connections % 200));
            if (!p.connect(port, 1000))
                continue;
            ++connected;
            if (connections % 3 == 0) {
                p.send_raw({0xFF, 0xFF, 0xFF, 0xFF, 1, 0}); // too long a frame
            } else if (connections % 3 == 1) {
                p.send(pkt::kChat, std::vector<uint8_t>(80, 0)); // chat before the login
            } else {
                EXPECT_EQ(login_peer(p, 99, 7), 5) << "in already";
                continue; // closed by the peer's end
            }
            p.wait_closed(200);
        }
    }
    RoomPeer user; // logged-in users are still heard
    ASSERT_TRUE(user.connect(port));
    ASSERT_EQ(login_peer(user, 100, 7), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string log;
    for (const auto& e : fs::directory_iterator(dir.path() / "log"))
        log += read_file(e.path().string());
    const size_t lines = count_of(log, "\n");
    const size_t about_connections = count_of(log, "connection ");
    const double seconds = ms_since(start) / 1000.0;
    std::printf("%d refused connections (%d tried) in %.1f s: %zu log lines (%zu about connections)\n",
                connected, connections, seconds, lines, about_connections);
    EXPECT_GT(connected, 200);
    EXPECT_LE(about_connections, size_t(seconds) + 3) << log.substr(0, 2000);
    EXPECT_GE(count_of(log, " more before a login"), 1u) << "the left-out lines are counted";
    EXPECT_GE(count_of(log, "user 100 entered room 7"), 1u);
    EXPECT_TRUE(process_running(pid));
}

namespace {

// The room server's end of one connection, played by the test: a blocking socket with frames.
class FakeRoomServer {
public:
    FakeRoomServer() { listener_ = listen_on_loopback(&port_); }
    ~FakeRoomServer() {
        if (conn_ >= 0)
            close(conn_);
        close(listener_);
    }
    uint16_t port() const { return port_; }
    bool accept_one() {
        conn_ = accept(listener_, nullptr, nullptr);
        return conn_ >= 0;
    }
    // The next whole frame from the service.
    std::optional<Packet> next() {
        for (;;) {
            if (!inbox_.empty()) {
                Packet p = std::move(inbox_.front());
                inbox_.erase(inbox_.begin());
                return p;
            }
            uint8_t buf[4096];
            const ssize_t n = recv(conn_, buf, sizeof buf, 0);
            if (n <= 0)
                return std::nullopt;
            decoder_.feed(buf, size_t(n), [&](uint16_t t, const uint8_t* p, uint32_t size) {
                inbox_.push_back({t, std::vector<uint8_t>(p, p + size)});
            });
        }
    }
    void send(uint16_t type, const std::vector<uint8_t>& payload) { out_ += frame(type, payload); }
    bool flush() {
        size_t off = 0;
        while (off < out_.size()) {
            const ssize_t n = ::send(conn_, out_.data() + off, out_.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            off += size_t(n);
        }
        out_.clear();
        return true;
    }

private:
    static std::string frame(uint16_t type, const std::vector<uint8_t>& payload) {
        const auto f = framing::make_frame(type, payload);
        return std::string(f.begin(), f.end());
    }
    int listener_ = -1, conn_ = -1;
    uint16_t port_ = 0;
    framing::Decoder decoder_;
    std::vector<Packet> inbox_;
    std::string out_;
};

} // namespace

// A room server that sends speech from ids nobody announced, and from more speakers than a class has, does
// not make the local service grow: it takes speech only from the room's users, and from 16 at a time.
TEST(LocalServiceGuard, SpeechOnlyFromTheRoomsUsersAndFromFewSpeakers) {
    FakeRoomServer room;
    LocalServiceProcess service(room.port(), {});
    const pid_t pid = service.pid();
    RoomPeer client;
    ASSERT_TRUE(client.connect(service.port()));
    proto::Login login;
    login.user_id = 12;
    login.room_id = 7;
    ASSERT_TRUE(client.send(pkt::kLogin, login.encode()));
    ASSERT_TRUE(room.accept_one());
    auto got = room.next();
    ASSERT_TRUE(got && got->type == pkt::kLogin);
    proto::LoginResult ok;
    room.send(pkt::kLoginResult, ok.encode());
    constexpr uint32_t kMembers = 3000;
    for (uint32_t id = 1000; id < 1000 + kMembers; ++id) {
        proto::UserBlock b;
        b.user_id = id;
        room.send(pkt::kUserPresent, b.encode());
    }
    room.send(pkt::kMediaStart, {});
    ASSERT_TRUE(room.flush());
    ASSERT_TRUE(client.wait_for(pkt::kMediaStart, 5000));
    client.drain(300);
    const long before = process_usage(pid).rss_kb;

    // Speech from 40 000 ids that are not in the room, then from every one of the room's 3000 users, for a
    // few frames each.
    auto speak = [&](uint32_t first, uint32_t count) {
        for (uint32_t id = first; id < first + count; ++id) {
            for (uint32_t seq = 0; seq < 3; ++seq)
                room.send(pkt::kVoice,
                          proto::VoicePacket{id, seq, 0, std::vector<uint8_t>(40, 0x11)}.encode());
            if (id % 500 == 0) {
                ASSERT_TRUE(room.flush());
                client.drain(0);
            }
        }
        ASSERT_TRUE(room.flush());
    };
    speak(100000, 40000);
    speak(1000, kMembers);
    // The room's own users still reach the client's link (a chat line after the flood).
    proto::ChatLine line;
    line.sender = 1000;
    line.text = "after";
    room.send(pkt::kChatMessage, line.encode());
    ASSERT_TRUE(room.flush());
    EXPECT_TRUE(client.wait_for(pkt::kChatMessage, 5000).has_value());
    const long after = process_usage(pid).rss_kb;
    std::printf("local service: %ld kB before, %ld kB after speech from 40000 strangers and %u users\n",
                before, after, kMembers);
    EXPECT_LT(after - before, 6 * 1024 * kMemoryBoundScale) << "no decoder for every id a room server names";
    EXPECT_TRUE(process_running(pid));
    client.close();
    // It ends by itself 2 s after its client left, which a loaded machine stretches: a generous deadline, far
    // below the minute an unused service lives.
    EXPECT_EQ(service.wait(20000).value_or(-1), 0) << "ends by itself after its client left";
}

// The client's login reaches the room server as the client wrote it, and the token stays between the
// service and the room server: a restarted relay (no token) simply logs in afresh.
TEST(LocalServiceGuard, TheTokenStaysInTheServiceAndARestartedRelayLogsInAfresh) {
    RoomServerProcess server;
    RoomPeer teacher;
    ASSERT_TRUE(teacher.connect(server.port()));
    ASSERT_EQ(login_peer(teacher, 100, 7), 0);

    auto relay = std::make_unique<LocalServiceProcess>(server.port(), std::vector<std::string>{});
    {
        RoomPeer client;
        ASSERT_TRUE(client.connect(relay->port()));
        ASSERT_EQ(login_peer(client, 12, 7), 0);
        const auto packets = client.drain(500);
        for (const Packet& p : packets)
            EXPECT_NE(p.type, pkt::kSessionToken) << "the token never reaches the client";
        ASSERT_TRUE(teacher.wait_for(pkt::kUserEntered, 2000));
        // The relay dies with the session open; a new one takes over the client.
        relay.reset();
    }
    ASSERT_TRUE(teacher.wait_for(pkt::kUserLeft, 3000)) << "the room saw the relay's link end";
    relay = std::make_unique<LocalServiceProcess>(server.port(), std::vector<std::string>{});
    RoomPeer client;
    ASSERT_TRUE(client.connect(relay->port()));
    EXPECT_EQ(login_peer(client, 12, 7, proto::Login::kReconnectFlag), 0) << "a fresh login, no token needed";
    client.close();
    EXPECT_EQ(relay->wait(5000).value_or(-1), 0);
}
