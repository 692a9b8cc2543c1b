// Room server fan-out: one sender streams 320 x 240 camera frames of 4 KB at 15 per second to N watchers
// through a real room server on loopback. The peer is the same traffic written straight to N plain loopback
// TCP connections, the limit of what the machine can deliver. Prints delivered frames per second and the
// p50 / p99 delay from send to receipt for both, and their ratios.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "service/service_server.h"
#include "wire/framing.h"
#include "wire/protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFps = 15;
constexpr size_t kFrameBytes = 4096;
constexpr int kSeconds = 4;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

int connect_to(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        perror("connect");
        std::exit(1);
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void send_all(int fd, const std::vector<uint8_t>& b) {
    for (size_t off = 0; off < b.size();) {
        ssize_t n = send(fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += size_t(n);
    }
}

// Reads frames on every fd until `stop`, recording the delay of each video frame from its embedded send time.
struct Receiver {
    std::vector<int> fds;
    std::vector<double> delays_ms;
    std::atomic<bool> stop{false};
    size_t video_offset; // where the send time sits in a type-10 payload

    void run() {
        std::vector<framing::Decoder> decoders(fds.size());
        std::vector<pollfd> p;
        for (int fd : fds)
            p.push_back({fd, POLLIN, 0});
        std::vector<uint8_t> buf(1 << 16);
        while (!stop) {
            if (poll(p.data(), p.size(), 50) <= 0)
                continue;
            for (size_t i = 0; i < p.size(); ++i) {
                if (!(p[i].revents & POLLIN))
                    continue;
                ssize_t n = recv(p[i].fd, buf.data(), buf.size(), 0);
                if (n <= 0)
                    continue;
                const int64_t t = now_ns();
                decoders[i].feed(buf.data(), size_t(n), [&](uint16_t type, const uint8_t* d, uint32_t size) {
                    if (type != pkt::kVideoFrame || size < video_offset + 8)
                        return;
                    int64_t sent;
                    std::memcpy(&sent, d + video_offset, 8);
                    delays_ms.push_back(double(t - sent) / 1e6);
                });
            }
        }
    }
};

struct Result {
    double fps, p50, p99;
};

Result summarise(std::vector<double>& d, double seconds) {
    std::sort(d.begin(), d.end());
    auto pct = [&](double q) {
        return d.empty() ? 0.0 : d[std::min(d.size() - 1, size_t(q * double(d.size())))];
    };
    return {double(d.size()) / seconds, pct(0.5), pct(0.99)};
}

// Streams frames at the camera's rate; `write` sends one frame (with the send time at `offset`).
template <typename Write> void stream(Write write, size_t offset, std::vector<uint8_t> payload) {
    const auto start = Clock::now();
    for (int i = 0; i < kFps * kSeconds; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / kFps));
        int64_t t = now_ns();
        std::memcpy(payload.data() + offset, &t, 8);
        write(payload);
    }
}

Result through_room_server(int watchers) {
    asio::io_context io(1);
    ServerOptions options;
    options.listen = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0);
    options.hub.log = [](const std::string&) {};
    ServiceServer server(io, options);
    server.start();
    std::thread io_thread([&] { io.run(); });
    const uint16_t port = server.port();

    auto login = [&](int fd, uint32_t user) {
        proto::Login l;
        l.user_id = user;
        l.room_id = 1;
        send_all(fd, framing::make_frame(pkt::kLogin, l.encode()));
    };
    int sender = connect_to(port);
    login(sender, 1);
    Receiver rx;
    rx.video_offset = proto::VideoFrame::kHeader;
    for (int i = 0; i < watchers; ++i) {
        int fd = connect_to(port);
        login(fd, uint32_t(100 + i));
        send_all(fd, framing::make_frame(pkt::kWatchVideo, proto::WatchVideo{1, 1}.encode()));
        rx.fds.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::thread rx_thread([&] { rx.run(); });

    proto::VideoFrame f;
    f.frame.assign(kFrameBytes, 0x11);
    f.key_frame = 1;
    stream([&](const std::vector<uint8_t>& p) { send_all(sender, framing::make_frame(pkt::kVideoFrame, p)); },
           proto::VideoFrame::kHeader, f.encode());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    rx.stop = true;
    rx_thread.join();
    close(sender);
    for (int fd : rx.fds)
        close(fd);
    asio::post(io, [&] { server.stop(); });
    io.stop();
    io_thread.join();
    return summarise(rx.delays_ms, kSeconds);
}

Result plain_tcp(int watchers) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener, 128);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    Receiver rx;
    rx.video_offset = proto::VideoFrame::kHeader;
    std::vector<int> outs;
    for (int i = 0; i < watchers; ++i) {
        rx.fds.push_back(connect_to(ntohs(a.sin_port)));
        int out = accept(listener, nullptr, nullptr);
        int one = 1;
        setsockopt(out, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        outs.push_back(out);
    }
    std::thread rx_thread([&] { rx.run(); });
    proto::VideoFrame f;
    f.frame.assign(kFrameBytes, 0x11);
    stream(
        [&](const std::vector<uint8_t>& p) {
            auto frame = framing::make_frame(pkt::kVideoFrame, p);
            for (int fd : outs)
                send_all(fd, frame);
        },
        proto::VideoFrame::kHeader, f.encode());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    rx.stop = true;
    rx_thread.join();
    for (int fd : outs)
        close(fd);
    for (int fd : rx.fds)
        close(fd);
    close(listener);
    return summarise(rx.delays_ms, kSeconds);
}

} // namespace

int main() {
    std::printf("room server fan-out: 1 sender, %zu-byte frames at %d/s for %d s; peer: plain loopback TCP\n",
                kFrameBytes, kFps, kSeconds);
    for (int n : {10, 50}) {
        Result room = through_room_server(n);
        Result plain = plain_tcp(n);
        std::printf("N=%-3d room server: %7.1f frames/s  p50 %.3f ms  p99 %.3f ms\n", n, room.fps, room.p50,
                    room.p99);
        std::printf("      plain TCP:   %7.1f frames/s  p50 %.3f ms  p99 %.3f ms\n", plain.fps, plain.p50,
                    plain.p99);
        std::printf("      ratio room/plain: frames %.2f  p50 %.2f  p99 %.2f\n", room.fps / plain.fps,
                    plain.p50 > 0 ? room.p50 / plain.p50 : 0.0, plain.p99 > 0 ? room.p99 / plain.p99 : 0.0);
    }
    return 0;
}
