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
    size_t video_offset; // where the send time sits in a payload of the measured type
    uint16_t measured_type = pkt::kVideoFrame;
    std::atomic<size_t> received{0};
    Clock::time_point last_receipt = Clock::now();

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
                    if (type != measured_type || size < video_offset + 8)
                        return;
                    int64_t sent;
                    std::memcpy(&sent, d + video_offset, 8);
                    delays_ms.push_back(double(t - sent) / 1e6);
                    last_receipt = Clock::now();
                    ++received;
                });
            }
        }
    }
};

// Waits until no frame has arrived for 300 ms.
void wait_until_quiet(Receiver& rx) {
    size_t seen = SIZE_MAX;
    while (rx.received != seen) {
        seen = rx.received;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

struct Result {
    double fps, p50, p99;
    double per_watcher_fps = 0; // frames each watcher received per second of the run
    double delivered = 0;       // of the frames sent, the share each watcher received
};

Result summarise(std::vector<double>& d, double seconds) {
    std::sort(d.begin(), d.end());
    auto pct = [&](double q) {
        return d.empty() ? 0.0 : d[std::min(d.size() - 1, size_t(q * double(d.size())))];
    };
    return {double(d.size()) / seconds, pct(0.5), pct(0.99)};
}

// Streams frames at the camera's rate; `write` sends one frame (with the send time at `offset`).
// Voice instead of video: 20 ms packets of 80 bytes from a speaker to everyone else in the room.
bool g_voice = false;
constexpr size_t kVoiceBytes = 80;
constexpr int kVoicePerSecond = 50;

// Saturation: frames are sent back to back instead of at the camera's rate.
bool g_flood = false;
constexpr int kFloodFrames = 6000;

template <typename Write> void stream(Write write, size_t offset, std::vector<uint8_t> payload) {
    const auto start = Clock::now();
    const int rate = g_voice ? kVoicePerSecond : kFps;
    const int count = g_flood ? kFloodFrames : rate * kSeconds;
    for (int i = 0; i < count; ++i) {
        if (!g_flood)
            std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / rate));
        int64_t t = now_ns();
        std::memcpy(payload.data() + offset, &t, 8);
        write(payload);
    }
}

// Seconds from the first send to the last receipt, for the saturation figure.
double g_elapsed = 0;

Result through_room_server(int watchers) {
    asio::io_context io(1);
    ServerOptions options;
    options.listen = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0);
    options.hub.log = [](const std::string&) {};
    if (g_flood) // the capacity of the fan-out, not the per-sender limit, is measured
        options.hub.video_frames_per_second = 1000000;
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
    if (g_voice) // the first user is the host, who may speak
        send_all(sender, framing::make_frame(pkt::kMicrophoneOn, proto::MicrophoneOn{0}.encode()));
    Receiver rx;
    rx.video_offset = g_voice ? proto::VoicePacket::kHeader : proto::VideoFrame::kHeader;
    rx.measured_type = g_voice ? pkt::kVoice : pkt::kVideoFrame;
    for (int i = 0; i < watchers; ++i) {
        int fd = connect_to(port);
        login(fd, uint32_t(100 + i));
        if (!g_voice)
            send_all(fd, framing::make_frame(pkt::kWatchVideo, proto::WatchVideo{1, 1}.encode()));
        rx.fds.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::thread rx_thread([&] { rx.run(); });

    proto::VideoFrame f;
    f.frame.assign(kFrameBytes, 0x11);
    f.key_frame = 1;
    proto::VoicePacket v{0, 0, 0, std::vector<uint8_t>(kVoiceBytes, 0x22)};
    const auto t0 = Clock::now();
    const uint16_t type = g_voice ? uint16_t(pkt::kVoice) : uint16_t(pkt::kVideoFrame);
    stream([&](const std::vector<uint8_t>& p) { send_all(sender, framing::make_frame(type, p)); },
           rx.video_offset, g_voice ? v.encode() : f.encode());
    wait_until_quiet(rx);
    g_elapsed = std::chrono::duration<double>(rx.last_receipt - t0).count();
    rx.stop = true;
    rx_thread.join();
    close(sender);
    for (int fd : rx.fds)
        close(fd);
    asio::post(io, [&] { server.stop(); });
    io.stop();
    io_thread.join();
    Result r = summarise(rx.delays_ms, kSeconds);
    r.per_watcher_fps = g_elapsed > 0 ? double(rx.received) / double(watchers) / g_elapsed : 0;
    r.delivered = double(rx.received) / double(watchers) /
                  (g_flood ? kFloodFrames : (g_voice ? kVoicePerSecond : kFps) * kSeconds);
    return r;
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
    rx.video_offset = g_voice ? proto::VoicePacket::kHeader : proto::VideoFrame::kHeader;
    rx.measured_type = g_voice ? pkt::kVoice : pkt::kVideoFrame;
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
    proto::VoicePacket v{0, 0, 0, std::vector<uint8_t>(kVoiceBytes, 0x22)};
    const auto t0 = Clock::now();
    const uint16_t type = g_voice ? uint16_t(pkt::kVoice) : uint16_t(pkt::kVideoFrame);
    stream(
        [&](const std::vector<uint8_t>& p) {
            auto frame = framing::make_frame(type, p);
            for (int fd : outs)
                send_all(fd, frame);
        },
        rx.video_offset, g_voice ? v.encode() : f.encode());
    wait_until_quiet(rx);
    g_elapsed = std::chrono::duration<double>(rx.last_receipt - t0).count();
    rx.stop = true;
    rx_thread.join();
    for (int fd : outs)
        close(fd);
    for (int fd : rx.fds)
        close(fd);
    close(listener);
    Result r = summarise(rx.delays_ms, kSeconds);
    r.per_watcher_fps = g_elapsed > 0 ? double(rx.received) / double(watchers) / g_elapsed : 0;
    r.delivered = double(rx.received) / double(watchers) /
                  (g_flood ? kFloodFrames : (g_voice ? kVoicePerSecond : kFps) * kSeconds);
    return r;
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
    // Voice: a speaker to 50 listeners.
    g_voice = true;
    {
        Result room = through_room_server(50);
        Result plain = plain_tcp(50);
        std::printf("voice to N=50, %zu-byte packets at %d/s: room server p50 %.3f ms p99 %.3f ms (%.0f %% "
                    "delivered); plain TCP p50 %.3f ms p99 %.3f ms; ratio p50 %.2f p99 %.2f\n",
                    kVoiceBytes, kVoicePerSecond, room.p50, room.p99, room.delivered * 100, plain.p50,
                    plain.p99, plain.p50 > 0 ? room.p50 / plain.p50 : 0.0,
                    plain.p99 > 0 ? room.p99 / plain.p99 : 0.0);
    }
    g_voice = false;

    // Saturation: the sender writes as fast as each path takes it; the room server may drop video for a
    // watcher that falls behind, plain sockets block instead.
    g_flood = true;
    const int n = 50;
    Result room = through_room_server(n);
    Result plain = plain_tcp(n);
    std::printf("saturation, N=%d: room server %.0f frames/s per watcher (%.0f %% of the frames; the rest "
                "dropped for watchers behind), plain TCP %.0f (%.0f %%); ratio %.2f\n",
                n, room.per_watcher_fps, room.delivered * 100, plain.per_watcher_fps, plain.delivered * 100,
                plain.per_watcher_fps > 0 ? room.per_watcher_fps / plain.per_watcher_fps : 0.0);
    return 0;
}
