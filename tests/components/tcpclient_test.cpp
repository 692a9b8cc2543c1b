// Framing and the TCP client: packets cut anywhere, framing errors, and a peer that stops reading.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "components/framed_socket.h"
#include "components/tcpclient.h"
#include "eventually.h"
#include "room_peer.h"
#include "wire/framing.h"

namespace {

struct Recorder : server_event_handler {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> got;
    int OnServerProc(uint16_t type, const void* data, uint32_t length) override {
        std::lock_guard lock(m);
        auto* p = static_cast<const uint8_t*>(data);
        got.push_back({type, std::vector<uint8_t>(p, p + length)});
        cv.notify_all();
        return 0;
    }
    bool wait(size_t n, int ms = 5000) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return got.size() >= n; });
    }
    // A copy of packet i, taken under the lock: the link thread may be adding the next one.
    std::pair<uint16_t, std::vector<uint8_t>> at(size_t i) {
        std::lock_guard lock(m);
        return got.at(i);
    }
    size_t count() {
        std::lock_guard lock(m);
        return got.size();
    }
};

// A loopback server socket; accept() hands out the next connection.
struct Server {
    int fd;
    uint16_t port;
    Server() { fd = listen_on_loopback(&port); }
    ~Server() { close(fd); }
    int accept_one() { return ::accept(fd, nullptr, nullptr); }
};

void send_all(int fd, const std::vector<uint8_t>& b) {
    for (size_t off = 0; off < b.size();) {
        ssize_t n = ::send(fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        off += size_t(n);
    }
}

__SndBuf* filled(tcpclient& c, uint32_t size, uint8_t value) {
    void* p = nullptr;
    __SndBuf* b = c.get_send_buff(size, &p);
    std::memset(p, value, size);
    return b;
}

} // namespace

TEST(Framing, PacketsSurviveAnyCutOfTheStream) {
    std::vector<uint8_t> stream;
    std::vector<std::vector<uint8_t>> sent;
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> payload(rng() % 3000);
        for (auto& b : payload)
            b = uint8_t(rng());
        sent.push_back(payload);
        auto f = framing::make_frame(uint16_t(i), payload);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    framing::Decoder d;
    std::vector<std::vector<uint8_t>> got;
    for (size_t off = 0; off < stream.size();) {
        size_t n = std::min(stream.size() - off, size_t(1 + rng() % 700));
        ASSERT_TRUE(d.feed(stream.data() + off, n, [&](uint16_t type, const uint8_t* p, uint32_t size) {
            EXPECT_EQ(type, got.size());
            got.emplace_back(p, p + size);
        }));
        off += n;
    }
    EXPECT_EQ(got, sent);
    EXPECT_EQ(d.buffered(), 0u);
}

TEST(Framing, LengthsOutsideTheRulesBreakTheStream) {
    for (uint32_t bad : {0u, 1u, framing::kMaxLength + 1, 0xFFFFFFFFu}) {
        framing::Decoder d;
        uint8_t h[6] = {uint8_t(bad), uint8_t(bad >> 8), uint8_t(bad >> 16), uint8_t(bad >> 24), 1, 0};
        int packets = 0;
        EXPECT_FALSE(d.feed(h, 6, [&](uint16_t, const uint8_t*, uint32_t) { ++packets; })) << bad;
        EXPECT_TRUE(d.failed());
        EXPECT_FALSE(d.feed(h, 6, [&](uint16_t, const uint8_t*, uint32_t) { ++packets; }));
        EXPECT_EQ(packets, 0);
    }
    framing::Decoder ok;
    auto f = framing::make_frame(13, nullptr, 0);
    int packets = 0;
    EXPECT_TRUE(ok.feed(f.data(), f.size(), [&](uint16_t t, const uint8_t*, uint32_t n) {
        EXPECT_EQ(t, 13);
        EXPECT_EQ(n, 0u);
        ++packets;
    }));
    EXPECT_EQ(packets, 1);
}

TEST(TcpClient, ReceivesPacketsAndReportsLossOnceButNotItsOwnClose) {
    Server server;
    Recorder r;
    tcpclient c;
    c.set_handler(&r);
    ASSERT_TRUE(c.init());
    ASSERT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), server.port));
    int peer = server.accept_one();
    send_all(peer, framing::make_frame(1001, std::vector<uint8_t>(46, 1)));
    ASSERT_TRUE(r.wait(1));
    EXPECT_EQ(r.at(0).first, 1001);
    EXPECT_EQ(r.at(0).second.size(), 46u);
    close(peer);
    ASSERT_TRUE(r.wait(2));
    EXPECT_EQ(r.at(1).first, tcpclient::kLinkLost);
    EXPECT_FALSE(c.connected());

    // Our own close: the peer sees it, and nothing is reported. A packet on the next connection, handled on
    // the same I/O thread after everything about the earlier ones, marks the end of what could have come.
    ASSERT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), server.port));
    peer = server.accept_one();
    c.close_socket();
    char b;
    EXPECT_EQ(recv(peer, &b, 1, 0), 0) << "the peer sees the close";
    close(peer);
    ASSERT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), server.port));
    peer = server.accept_one();
    send_all(peer, framing::make_frame(999, {}));
    ASSERT_TRUE(r.wait(3));
    EXPECT_EQ(r.at(2).first, 999) << "one type 8 for the lost link, none for our own close";
    close(peer);
    c.close();
}

// The window that handles the packets goes away right after closing its link, while the peer is still
// sending: close() ends the calls into the handler before it returns (a call after it would touch freed
// memory, which the sanitizer runs report).
TEST(TcpClient, CloseEndsTheCallsIntoTheHandlerBeforeItReturns) {
    Server server;
    tcpclient c;
    auto r = std::make_unique<Recorder>();
    c.set_handler(r.get());
    ASSERT_TRUE(c.init());
    ASSERT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), server.port));
    const int peer = server.accept_one();
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const auto frame = framing::make_frame(1002, std::vector<uint8_t>(64, 7));
        while (!stop && ::send(peer, frame.data(), frame.size(), MSG_NOSIGNAL) == ssize_t(frame.size())) {
        }
    });
    EXPECT_TRUE(r->wait(200)) << "the packets flow";
    c.close();
    r.reset();
    // Still sending after the handler went: nothing may reach it now.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    ::shutdown(peer, SHUT_RDWR);
    flood.join();
    close(peer);
}

TEST(TcpClient, PeerThatClosesRightAfterAcceptingIsReportedLost) {
    Server server;
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        Recorder r;
        tcpclient c;
        c.set_handler(&r);
        ASSERT_TRUE(c.init());
        // The peer is gone before the client has even started reading.
        std::thread closer([&] { close(server.accept_one()); });
        const bool connected = c.changeip(htonl(INADDR_LOOPBACK), server.port);
        closer.join();
        if (!connected)
            continue;
        ASSERT_TRUE(r.wait(1, 3000)) << "a lost link must be reported, or nobody reconnects";
        EXPECT_EQ(r.at(0).first, tcpclient::kLinkLost);
        c.close();
    }
}

TEST(TcpClient, FramingErrorFromThePeerIsALostLink) {
    Server server;
    Recorder r;
    tcpclient c;
    c.set_handler(&r);
    c.init();
    ASSERT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), server.port));
    int peer = server.accept_one();
    send_all(peer, {1, 0, 0, 0, 5, 0}); // L = 1
    ASSERT_TRUE(r.wait(1));
    EXPECT_EQ(r.at(0).first, tcpclient::kLinkLost);
    close(peer);
    c.close();
}

TEST(TcpClient, RefusedOrUnreachableGivesUpWithinTheTimeOut) {
    Server server;
    const uint16_t port = server.port;
    close(server.fd);
    server.fd = socket(AF_INET, SOCK_STREAM, 0);
    tcpclient c;
    c.init();
    c.set_connect_timeout_ms(300);
    // A client that kept trying past its time-out would not return (and the test would end at its time-out).
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.changeip(htonl(INADDR_LOOPBACK), port));
    std::printf("gave up after %lld ms (time-out 300 ms)\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count()));
    EXPECT_FALSE(c.send_packet(c.get_send_buff(0), 13)) << "nothing to send on";
    EXPECT_EQ(c.get_send_buff(framing::kMaxPayload + 1), nullptr);
    c.close();
}

TEST(TcpClient, RefusedConnectionIsTriedAgainUntilThePeerListens) {
    // A port that is taken but not listened on refuses, until it is listened on.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    tcpclient c;
    ASSERT_TRUE(c.init());
    c.set_connect_timeout_ms(600000); // far longer than the test may take
    std::thread listener([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // a service that starts up meanwhile
        listen(fd, 1);
    });
    EXPECT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), ntohs(a.sin_port)));
    listener.join();
    EXPECT_TRUE(c.connected());
    c.close();
    close(fd);
}

TEST(TcpClient, PeerThatStopsReadingLosesVideoFirstThenTheLink) {
    Server server;
    Recorder r;
    tcpclient c;
    c.set_handler(&r);
    c.set_send_cap(256 * 1024);
    c.init();
    ASSERT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), server.port));
    int peer = server.accept_one(); // never read

    // 64 MB of video, far more than the kernel and the queue hold: the oldest waiting frames give way to the
    // newest, and the link stays.
    for (int i = 0; i < 2000; ++i)
        c.send_packet(filled(c, 32 * 1024, 1), 10);
    EXPECT_TRUE(c.connected()) << "dropping video keeps the link";
    EXPECT_EQ(r.count(), 0u);

    // Chat lines are never dropped silently: when they cannot be queued the link counts as lost. (The
    // kernel's buffers may still take some megabytes first, so keep sending until the queue is full.)
    EXPECT_TRUE(eventually([&] { return !c.send_packet(filled(c, 16 * 1024, 2), 2); }, 20000, 0));
    ASSERT_TRUE(r.wait(1));
    EXPECT_EQ(r.at(0).first, tcpclient::kLinkLost);
    close(peer);
    c.close();
}

TEST(TcpClient, PacketsOfOneThreadKeepTheirOrderWhileThreadsSendTogether) {
    Server server;
    tcpclient c;
    c.init();
    ASSERT_TRUE(c.changeip(htonl(INADDR_LOOPBACK), server.port));
    int peer = server.accept_one();
    constexpr int kThreads = 3, kEach = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&c, t] {
            for (int i = 0; i < kEach; ++i) {
                void* p = nullptr;
                __SndBuf* b = c.get_send_buff(8, &p);
                uint32_t v[2] = {uint32_t(t), uint32_t(i)};
                std::memcpy(p, v, 8);
                c.send_packet(b, 2);
            }
        });
    framing::Decoder d;
    std::vector<int> next(kThreads, 0);
    int total = 0;
    uint8_t buf[65536];
    while (total < kThreads * kEach) {
        ssize_t n = recv(peer, buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        d.feed(buf, size_t(n), [&](uint16_t, const uint8_t* p, uint32_t) {
            uint32_t v[2];
            std::memcpy(v, p, 8);
            EXPECT_EQ(int(v[1]), next[v[0]]++);
            ++total;
        });
    }
    for (auto& t : threads)
        t.join();
    close(peer);
    c.close();
}

namespace {

// A framed connection to `listener` (on `port`) that drops what it reads; `peer` gets the accepted end and
// `fd` (when given) the connection's own descriptor.
std::shared_ptr<FramedSocket> framed_to(asio::io_context& io, int listener, uint16_t port, int* peer,
                                        FramedSocket::Threads threads = FramedSocket::Threads::Any,
                                        int* fd = nullptr) {
    asio::ip::tcp::socket s(io);
    s.connect({asio::ip::address_v4::loopback(), port});
    *peer = accept(listener, nullptr, nullptr);
    if (fd)
        *fd = s.native_handle();
    auto framed = std::make_shared<FramedSocket>(std::move(s), FramedSocket::kDefaultSendCap, threads);
    framed->start([](uint16_t, const uint8_t*, uint32_t) {}, [](const std::string&) {});
    return framed;
}

} // namespace

// A receiver that falls behind gets its control packets before the video that waits, and only a little video
// waits at all.
TEST(FramedSocketQueue, ControlPacketsOvertakeWaitingVideo) {
    asio::io_context io;
    uint16_t port = 0;
    const int listener = listen_on_loopback(&port);
    int peer = -1;
    auto framed = framed_to(io, listener, port, &peer);
    std::thread runner([&] { io.run_for(std::chrono::seconds(30)); }); // stopped at the end
    // Fill the kernel's buffers and the queue with video while the peer reads nothing.
    for (int i = 0; i < 600; ++i)
        framed->send_frame(framing::make_frame(10, std::vector<uint8_t>(32 * 1024, 1)), true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(framed->queued_bytes(), FramedSocket::kVideoQueueCap + 64 * 1024) << "little video waits";
    EXPECT_GT(framed->dropped_frames(), 0u);
    framed->send_frame(framing::make_frame(2, std::vector<uint8_t>(100, 2)), false);
    // Now read: the chat line comes before all of the video that was waiting when it was queued.
    framing::Decoder d;
    std::vector<uint16_t> order;
    std::vector<uint8_t> buf(64 * 1024);
    while (std::find(order.begin(), order.end(), 2) == order.end()) {
        ssize_t n = recv(peer, buf.data(), buf.size(), 0);
        ASSERT_GT(n, 0);
        d.feed(buf.data(), size_t(n), [&](uint16_t t, const uint8_t*, uint32_t) { order.push_back(t); });
    }
    const size_t videos_before_chat = order.size() - 1;
    // What was already in the kernel's buffers arrives first; of the queue, nothing.
    EXPECT_LT(videos_before_chat * 32 * 1024, size_t(12) << 20);
    framed->close();
    io.stop();
    runner.join();
    close(peer);
    close(listener);
}

// The lanes in order for a receiver that fell behind: control, then the newest voice (the oldest dropped past
// its allowance), then video. One shared frame is sent intact to two connections.
TEST(FramedSocketQueue, LanesAreServedControlVoiceVideoAndSharedFramesArriveWhole) {
    asio::io_context io;
    uint16_t port = 0;
    const int listener = listen_on_loopback(&port);
    std::vector<std::shared_ptr<FramedSocket>> sockets;
    std::vector<int> peers;
    for (int i = 0; i < 2; ++i) {
        peers.push_back(-1);
        sockets.push_back(framed_to(io, listener, port, &peers.back()));
    }
    std::thread runner([&] { io.run_for(std::chrono::seconds(30)); }); // stopped at the end
    auto shared = std::make_shared<const std::vector<uint8_t>>(
        framing::make_frame(10, std::vector<uint8_t>(32 * 1024, 7)));
    // Video until the kernel's buffers are full and some of it waits in the queue.
    const bool backlog = eventually(
        [&] {
            if (sockets[0]->queued_bytes() >= 4 * shared->size())
                return true;
            for (int i = 0; i < 50; ++i)
                sockets[0]->send_shared(shared, FramedSocket::Lane::Video);
            return false;
        },
        10000, 20);
    ASSERT_TRUE(backlog);
    ASSERT_GE(sockets[0]->queued_bytes(), 4 * shared->size());
    const size_t voices = FramedSocket::kVoiceQueueFrames + 5;
    for (size_t i = 0; i < voices; ++i)
        sockets[0]->send_shared(std::make_shared<const std::vector<uint8_t>>(
                                    framing::make_frame(30, std::vector<uint8_t>{uint8_t(i)})),
                                FramedSocket::Lane::Voice);
    sockets[0]->send_frame(framing::make_frame(2, std::vector<uint8_t>(100, 2)), false);
    sockets[1]->send_shared(shared, FramedSocket::Lane::Video);

    framing::Decoder d;
    std::vector<std::pair<uint16_t, uint8_t>>
        order; // type and first payload byte, after the kernel's backlog
    bool chat_seen = false;
    std::vector<uint8_t> buf(64 * 1024);
    while (order.size() < FramedSocket::kVoiceQueueFrames + 2) {
        ssize_t n = recv(peers[0], buf.data(), buf.size(), 0);
        ASSERT_GT(n, 0);
        d.feed(buf.data(), size_t(n), [&](uint16_t t, const uint8_t* p, uint32_t size) {
            ASSERT_GT(size, 0u);
            chat_seen = chat_seen || t == 2;
            if (chat_seen)
                order.push_back({t, p[0]});
        });
    }
    ASSERT_EQ(order[0].first, 2);
    for (size_t i = 0; i < FramedSocket::kVoiceQueueFrames; ++i) {
        EXPECT_EQ(order[1 + i].first, 30);
        EXPECT_EQ(order[1 + i].second, voices - FramedSocket::kVoiceQueueFrames + i) << "the newest voice";
    }
    EXPECT_EQ(order.back().first, 10);

    framing::Decoder d2;
    std::vector<uint8_t> got;
    while (got.empty()) {
        ssize_t n = recv(peers[1], buf.data(), buf.size(), 0);
        ASSERT_GT(n, 0);
        d2.feed(buf.data(), size_t(n),
                [&](uint16_t, const uint8_t* p, uint32_t size) { got.assign(p, p + size); });
    }
    EXPECT_EQ(got, std::vector<uint8_t>(32 * 1024, 7));
    for (auto& s : sockets)
        s->close();
    io.stop();
    runner.join();
    for (int p : peers)
        close(p);
    close(listener);
}

// A sender on another thread writes an idle connection itself: the frame arrives while the I/O thread does
// not run at all. A busy connection refuses such a write, so that frames that fall back to the queue keep
// their order; a closed one refuses it too.
TEST(FramedSocketQueue, AnIdleSocketIsWrittenFromAnyThreadAndFramesKeepTheirOrder) {
    asio::io_context io;
    uint16_t port = 0;
    const int listener = listen_on_loopback(&port);
    int peer = -1;
    auto framed = framed_to(io, listener, port, &peer);
    framing::Decoder d;
    std::vector<uint32_t> got;
    std::vector<uint8_t> buf(64 * 1024);
    auto numbered = [](uint32_t n, size_t size) {
        std::vector<uint8_t> payload(size, 0);
        std::memcpy(payload.data(), &n, 4);
        return framing::make_frame(30, payload);
    };
    auto read_some = [&] {
        const ssize_t n = recv(peer, buf.data(), buf.size(), 0);
        if (n <= 0)
            return false;
        return d.feed(buf.data(), size_t(n), [&](uint16_t type, const uint8_t* p, uint32_t size) {
            uint32_t v = 0;
            if (type == 30 && size >= 4)
                std::memcpy(&v, p, 4);
            got.push_back(v);
        });
    };

    ASSERT_TRUE(framed->try_send_now(numbered(0, 60))); // the I/O context has not run yet
    ASSERT_TRUE(read_some());
    ASSERT_EQ(got, std::vector<uint32_t>{0});

    // A sender faster than the reader: frames go straight out while the socket is idle and into the voice
    // lane while it is not. The reader starts only once the socket was busy, and the sender goes on while it
    // reads, so that the socket turns idle and busy again many times. Whatever the voice lane drops, the
    // stream stays whole, nothing arrives out of order or twice, and the newest frame arrives.
    std::thread runner([&] { io.run_for(std::chrono::seconds(30)); }); // stopped at the end
    constexpr uint32_t kFrames = 20000;
    std::atomic<int> straight{0}, queued{0};
    std::atomic<bool> reading{false};
    std::thread sender([&] {
        for (uint32_t i = 1; i <= kFrames; ++i) {
            if (queued > 0 && !reading)
                eventually([&] { return reading.load(); }, 10000, 1);
            const auto frame = numbered(i, 1000);
            if (framed->try_send_now(frame))
                ++straight;
            else if (framed->send_shared(std::make_shared<const std::vector<uint8_t>>(frame),
                                         FramedSocket::Lane::Voice))
                ++queued;
        }
    });
    EXPECT_TRUE(eventually([&] { return queued > 0; }, 10000));
    reading = true;
    while (got.back() != kFrames && read_some()) {
    }
    sender.join();
    ASSERT_EQ(got.back(), kFrames);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
    EXPECT_EQ(std::adjacent_find(got.begin(), got.end()), got.end()) << "no frame twice";
    EXPECT_GT(straight, 0);

    framed->close();
    EXPECT_FALSE(framed->try_send_now(numbered(kFrames + 1, 60)));
    io.stop();
    runner.join();
    close(peer);
    close(listener);
}

// A receiver that stops reading: whatever the frames' sizes and lanes, the kernel never holds more than
// kKernelUnsent plus one write unsent, and once it is behind, plus one slow write, so that a control frame
// queued later waits behind little. Without its check at every write the kernel fills the segment it has
// begun, to some 50 KB on loopback. The connection is one of a server's (its I/O thread alone calls it,
// without a lock); once the peer reads again, everything queued arrives whole and in order.
TEST(FramedSocketQueue, AReceiverThatStopsReadingFindsLittleUnsentInTheKernel) {
    asio::io_context io{1};
    uint16_t port = 0;
    const int listener = listen_on_loopback(&port);
    int peer = -1, fd = -1;
    auto framed = framed_to(io, listener, port, &peer, FramedSocket::Threads::IoOnly, &fd);
    const size_t bound = size_t(FramedSocket::kKernelUnsent) + FramedSocket::kWriteChunk;
    const size_t behind_bound = size_t(FramedSocket::kKernelUnsent) + FramedSocket::kSlowWrite;
    uint32_t sent_controls = 0;
    int most_unsent = 0;
    for (int round = 0; round < 40; ++round) {
        asio::post(io, [&] {
            for (int i = 0; i < 20; ++i) {
                const size_t size = i % 3 == 0 ? 40000 : 4096; // some frames larger than one write
                framed->send_shared(std::make_shared<const std::vector<uint8_t>>(
                                        framing::make_frame(10, std::vector<uint8_t>(size, 1))),
                                    FramedSocket::Lane::Video);
                framed->send_shared(std::make_shared<const std::vector<uint8_t>>(
                                        framing::make_frame(40, std::vector<uint8_t>(100, 2))),
                                    FramedSocket::Lane::Voice);
            }
            std::vector<uint8_t> control(300, 3);
            std::memcpy(control.data(), &sent_controls, 4);
            ++sent_controls;
            framed->send_frame(framing::make_frame(2, control), false);
        });
        io.run_for(std::chrono::milliseconds(10));
        int unsent = 0;
        ASSERT_EQ(ioctl(fd, SIOCOUTQNSD, &unsent), 0);
        most_unsent = std::max(most_unsent, unsent);
        ASSERT_LE(size_t(unsent), bound) << "round " << round;
        if (round >= 2) { // the peer's window closed in the first round
            ASSERT_LE(size_t(unsent), behind_bound) << "round " << round;
        }
    }
    EXPECT_GT(most_unsent, FramedSocket::kKernelUnsent / 2)
        << "the peer's window closed: the limit was tried";

    // The peer reads again: every control frame arrives, in order, and the stream stays whole.
    std::thread runner([&] { io.run_for(std::chrono::seconds(20)); });
    framing::Decoder d;
    std::vector<uint32_t> controls;
    std::vector<uint8_t> buf(64 * 1024);
    bool whole = true;
    while (controls.size() < sent_controls && whole) {
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t n = recv(peer, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        whole = d.feed(buf.data(), size_t(n), [&](uint16_t type, const uint8_t* payload, uint32_t size) {
            if (type == 2 && size == 300) {
                uint32_t v = 0;
                std::memcpy(&v, payload, 4);
                controls.push_back(v);
            }
        });
    }
    EXPECT_TRUE(whole);
    ASSERT_EQ(controls.size(), sent_controls);
    for (uint32_t i = 0; i < sent_controls; ++i)
        EXPECT_EQ(controls[i], i);
    framed->close();
    io.stop();
    runner.join();
    close(peer);
    close(listener);
}
