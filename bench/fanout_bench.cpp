// Room server fan-out against a plain relay. The room server (`velmor --room-server`) and its peer, a plain
// epoll relay of the same framing (bench/fanout_relay.cpp), each run in a process of their own; this program
// is the third process, the users: senders stream frames with their send time and sequence number inside,
// receivers take them on one epoll thread. Runs alternate between the two servers (the order flips each
// round), and every figure is printed as the median over the rounds with the range; the delays also over every
// delivery of the rounds together (a round's tail rests on a few packets, so one stall of a shared machine
// decides it).
//
// Figures per server: delay from send to receipt (p50, p99, p99.9), the server's CPU time (from the kernel's
// per-thread run time) per delivery and per delivered MB, its resident memory, and the share delivered.
// Capacity: the most deliveries a second at which every frame reached every receiver, none later than
// kCapacityDelayMs at p99.9, with the senders kept to their schedule, for the room server on one and on two
// room threads and for the relay. Those runs use users that cost little per delivery (see CapacityDriver):
// on two cores they run beside the server and take from what it can use.
//
//   fanout_bench [BUILD_DIR]      FANOUT_SECONDS (default 5) sets the length of a measured run, FANOUT_ROUNDS
//                                 (default 3) the rounds, FANOUT_CAPACITY=0 leaves the capacity out
//                                 (FANOUT_CAPACITY_ROOMS, _WATCHERS, _SECONDS and _CAMERAS shape it,
//                                 FANOUT_CAPACITY_SERVERS picks some of its three servers, e.g. "0,1";
//                                 FANOUT_READ_MS, FANOUT_RCVBUF and FANOUT_WINDOW_CLAMP set its receivers'
//                                 visits, buffer and window; FANOUT_VERBOSE=1 prints every step),
//                                 FANOUT_LOADS the fixed loads ("10,50,200,voice" by default), FANOUT_ROOMS
//                                 the rooms the users are spread over, FANOUT_ROOM_ARGS more options for
//                                 velmor, FANOUT_PEER_ARGS velmor with these options as the peer instead of
//                                 the relay, FANOUT_PEER_COMMAND any peer's command line (PORT stands for
//                                 its port), e.g. an older velmor for a before/after comparison.
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "wire/framing.h"
#include "wire/protocol.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#include "bench_server.h"
#include "process_figures.h"

namespace {

constexpr double kCapacityDelayMs = 100;
constexpr int kCameraRate = 15;         // frames a second of a camera in the fixed-load runs
constexpr int kCapacityCameraRate = 50; // in the capacity runs (under the room's per-sender limit)
constexpr size_t kFrameBytes = 4096;
constexpr size_t kVoiceBytes = 80;
constexpr int kVoiceRate = 50;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// `receive_buffer` (bytes, 0: the kernel's own sizing) is set before the connection is made, so that the
// window the connection starts with and may grow to is reckoned from it.
int connect_to(uint16_t port, int receive_buffer = 0) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool send_all(int fd, const uint8_t* data, size_t size) {
    for (size_t off = 0; off < size;) {
        ssize_t n = send(fd, data + off, size - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += size_t(n);
    }
    return true;
}
bool send_all(int fd, const std::vector<uint8_t>& b) {
    return send_all(fd, b.data(), b.size());
}

// Reads frames from `fd` until one of `type` arrives (true) or 5 s pass.
bool wait_for_type(int fd, uint16_t type) {
    framing::Decoder decoder;
    bool seen = false;
    std::vector<uint8_t> buf(1 << 16);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!seen && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            return false;
        decoder.feed(buf.data(), size_t(n), [&](uint16_t t, const uint8_t*, uint32_t) { seen |= t == type; });
    }
    return seen;
}

using Server = BenchServer;

long rss_kb(pid_t pid) {
    return process_usage(pid).rss_kb;
}

struct Load {
    bool voice = false;
    int receivers = 10;
    int senders = 10;
    int rate = kCameraRate; // a second, each sender
    double warm_s = 1;
    double seconds = 5;
    // Users spread over this many rooms (sender s and receiver r in room 1 + s or r modulo rooms); a
    // receiver watches the cameras of its room. FANOUT_ROOMS sets it for every load.
    int rooms = std::max(1, env_int("FANOUT_ROOMS", 1));
};

struct Outcome {
    double p50 = 0, p99 = 0, p999 = 0;
    double delivered = 0; // share of the measured frames' deliveries that arrived
    double deliveries = 0;
    double cpu_s = 0;
    double driver_cpu_s = 0; // this process's, over the same stretch: what the users cost
    double mb = 0;
    long rss_kb = 0;
    bool kept_pace = true;
    int packets = 0;           // frames (or voice packets) sent in the measured stretch
    std::vector<float> delays; // every measured delivery's delay (ms), sorted
    double us_per_delivery() const { return deliveries > 0 ? cpu_s * 1e6 / deliveries : 0; }
    double driver_us_per_delivery() const { return deliveries > 0 ? driver_cpu_s * 1e6 / deliveries : 0; }
    double ms_per_mb() const { return mb > 0 ? cpu_s * 1e3 / mb : 0; }
    bool lossless() const { return kept_pace && delivered >= 1.0 && p999 <= kCapacityDelayMs; }
};

// The q-quantile of sorted delays.
double percentile(const std::vector<float>& sorted, double q) {
    return sorted.empty() ? 0.0
                          : double(sorted[std::min(sorted.size() - 1, size_t(q * double(sorted.size())))]);
}

// The users: connects, logs in and watches, streams for warm-up + measured seconds, drains, and reports.
Outcome drive(const Server& server, const Load& load) {
    const size_t offset = load.voice ? proto::VoicePacket::kHeader : proto::VideoFrame::kHeader;
    const uint16_t type = load.voice ? uint16_t(pkt::kVoice) : uint16_t(pkt::kVideoFrame);
    const int rooms = std::max(1, load.rooms);
    auto login = [&](uint32_t user, uint32_t room) {
        int fd = connect_to(server.port);
        proto::Login l;
        l.user_id = user;
        l.room_id = room;
        if (fd < 0 || !send_all(fd, framing::make_frame(pkt::kLogin, l.encode())) ||
            !wait_for_type(fd, pkt::kLoginResult)) {
            std::fprintf(stderr, "fanout_bench: login of %u to %s failed\n", user, server.name);
            std::exit(1);
        }
        return fd;
    };
    std::vector<int> senders, receivers;
    for (int s = 0; s < load.senders; ++s)
        senders.push_back(login(uint32_t(1 + s), uint32_t(1 + s % rooms)));
    if (load.voice) // the first user is the room's host and may speak
        send_all(senders[0], framing::make_frame(pkt::kMicrophoneOn, proto::MicrophoneOn{0}.encode()));
    for (int r = 0; r < load.receivers; ++r) {
        int fd = login(uint32_t(100000 + r), uint32_t(1 + r % rooms));
        if (!load.voice)
            for (int s = 0; s < load.senders; ++s)
                if (s % rooms == r % rooms)
                    send_all(fd, framing::make_frame(pkt::kWatchVideo,
                                                     proto::WatchVideo{uint32_t(1 + s), 1}.encode()));
        receivers.push_back(fd);
    }

    const int total_rate = load.senders * load.rate;
    const int warm = int(std::lround(total_rate * load.warm_s));
    const int frames = warm + int(std::lround(total_rate * load.seconds));
    // Each frame reaches the receivers of its sender's room.
    uint64_t expected = 0;
    for (int k = warm; k < frames; ++k)
        expected += uint64_t(load.receivers / rooms + ((k % load.senders) % rooms < load.receivers % rooms));
    std::vector<uint16_t> counts(size_t(frames), 0);
    std::vector<float> delays;
    delays.reserve(size_t(expected));
    std::atomic<uint64_t> measured_receipts{0};
    std::atomic<bool> stop{false};

    // Every socket is read (the senders' too, so that the room's notices to them never pile up); only the
    // measured type counts.
    std::thread rx([&] {
        const int ep = epoll_create1(0);
        std::vector<int> all = receivers;
        all.insert(all.end(), senders.begin(), senders.end());
        for (size_t i = 0; i < all.size(); ++i) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u32 = uint32_t(i);
            epoll_ctl(ep, EPOLL_CTL_ADD, all[i], &ev);
        }
        std::vector<std::vector<uint8_t>> bufs(all.size());
        std::vector<uint8_t> chunk(1 << 17);
        std::vector<epoll_event> events(256);
        while (!stop) {
            const int n = epoll_wait(ep, events.data(), int(events.size()), 20);
            for (int e = 0; e < n; ++e) {
                const uint32_t i = events[e].data.u32;
                const ssize_t got = recv(all[i], chunk.data(), chunk.size(), MSG_DONTWAIT);
                if (got <= 0)
                    continue;
                const int64_t t = now_ns();
                std::vector<uint8_t>& b = bufs[i];
                b.insert(b.end(), chunk.data(), chunk.data() + got);
                size_t at = 0;
                while (b.size() - at >= 6) {
                    uint32_t length;
                    uint16_t ftype;
                    std::memcpy(&length, b.data() + at, 4);
                    std::memcpy(&ftype, b.data() + at + 4, 2);
                    if (b.size() - at < 4 + size_t(length))
                        break;
                    const uint8_t* payload = b.data() + at + 6;
                    if (ftype == type && i < receivers.size() && length - 2 >= offset + 12) {
                        int64_t sent;
                        uint32_t seq;
                        std::memcpy(&sent, payload + offset, 8);
                        std::memcpy(&seq, payload + offset + 8, 4);
                        if (seq < uint32_t(frames) && seq >= uint32_t(warm)) {
                            ++counts[seq];
                            delays.push_back(float(double(t - sent) / 1e6));
                            ++measured_receipts;
                        }
                    }
                    at += 4 + size_t(length);
                }
                b.erase(b.begin(), b.begin() + long(at));
            }
        }
        close(ep);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::vector<std::vector<uint8_t>> packets;
    for (int s = 0; s < load.senders; ++s) {
        proto::VideoFrame f;
        f.frame.assign(kFrameBytes, uint8_t(0x11 + s));
        f.key_frame = 1;
        f.capture_length = uint32_t(kFrameBytes);
        proto::VoicePacket v{0, 0, 0, std::vector<uint8_t>(kVoiceBytes, 0x22)};
        packets.push_back(framing::make_frame(type, load.voice ? v.encode() : f.encode()));
    }
    double cpu_start = 0, driver_cpu_start = 0;
    const auto start = Clock::now();
    for (int k = 0; k < frames; ++k) {
        if (k == warm) {
            cpu_start = cpu_seconds(server.pid);
            driver_cpu_start = cpu_seconds(getpid());
        }
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(int64_t(k) * 1000000000 / total_rate));
        std::vector<uint8_t>& p = packets[size_t(k % load.senders)];
        const int64_t t = now_ns();
        const uint32_t seq = uint32_t(k);
        std::memcpy(p.data() + 6 + offset, &t, 8);
        std::memcpy(p.data() + 6 + offset + 8, &seq, 4);
        send_all(senders[size_t(k % load.senders)], p);
    }
    const double planned = double(frames - 1) / total_rate;
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    // Drained: everything arrived, or nothing more for 500 ms (at most 3 s).
    uint64_t seen = measured_receipts;
    auto quiet_since = Clock::now();
    const auto drain_end = Clock::now() + std::chrono::seconds(3);
    while (measured_receipts < expected && Clock::now() < drain_end &&
           Clock::now() - quiet_since < std::chrono::milliseconds(500)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (measured_receipts != seen) {
            seen = measured_receipts;
            quiet_since = Clock::now();
        }
    }
    Outcome o;
    o.cpu_s = cpu_seconds(server.pid) - cpu_start;
    o.driver_cpu_s = cpu_seconds(getpid()) - driver_cpu_start;
    o.rss_kb = rss_kb(server.pid);
    stop = true;
    rx.join();
    for (int fd : senders)
        close(fd);
    for (int fd : receivers)
        close(fd);

    o.kept_pace = took <= planned * 1.1 + 0.05;
    o.deliveries = double(measured_receipts.load());
    o.delivered = expected ? o.deliveries / double(expected) : 0;
    o.mb = o.deliveries * double(packets[0].size()) / 1e6;
    std::sort(delays.begin(), delays.end());
    o.p50 = percentile(delays, 0.5);
    o.p99 = percentile(delays, 0.99);
    o.p999 = percentile(delays, 0.999);
    o.packets = frames - warm;
    o.delays = std::move(delays);
    return o;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// "median (min-max)" with the given format for each number.
std::string spread(const std::vector<double>& v, const char* fmt = "%.3f") {
    if (v.empty())
        return "-";
    char a[32], b[32], c[32], out[112];
    std::snprintf(a, sizeof a, fmt, median(v));
    std::snprintf(b, sizeof b, fmt, *std::min_element(v.begin(), v.end()));
    std::snprintf(c, sizeof c, fmt, *std::max_element(v.begin(), v.end()));
    std::snprintf(out, sizeof out, "%s (%s-%s)", a, b, c);
    return out;
}

std::vector<double> pick(const std::vector<Outcome>& runs, double (*f)(const Outcome&)) {
    std::vector<double> v;
    for (const Outcome& o : runs)
        v.push_back(f(o));
    return v;
}

std::vector<double> ratios(const std::vector<Outcome>& a, const std::vector<Outcome>& b,
                           double (*f)(const Outcome&)) {
    std::vector<double> v;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        v.push_back(f(b[i]) > 0 ? f(a[i]) / f(b[i]) : 0);
    return v;
}

struct Servers {
    std::string room, relay;
    fs::path work;
    Server start(int which) const {
        return which == 0 ? start_server("room server", room, work) : start_server("relay", relay, work);
    }
};

void print_row(const char* label, const std::vector<Outcome>& runs) {
    std::printf("  %-12s p50 %s ms  p99 %s ms  p99.9 %s ms\n", label,
                spread(pick(runs, [](const Outcome& o) { return o.p50; })).c_str(),
                spread(pick(runs, [](const Outcome& o) { return o.p99; })).c_str(),
                spread(pick(runs, [](const Outcome& o) { return o.p999; })).c_str());
    std::printf(
        "  %-12s CPU %s us/delivery (the users: %s), %s ms/MB; delivered %s %%; memory %s MB\n", "",
        spread(pick(runs, [](const Outcome& o) { return o.us_per_delivery(); }), "%.2f").c_str(),
        spread(pick(runs, [](const Outcome& o) { return o.driver_us_per_delivery(); }), "%.2f").c_str(),
        spread(pick(runs, [](const Outcome& o) { return o.ms_per_mb(); }), "%.2f").c_str(),
        spread(pick(runs, [](const Outcome& o) { return o.delivered * 100; }), "%.1f").c_str(),
        spread(pick(runs, [](const Outcome& o) { return double(o.rss_kb) / 1024; }), "%.1f").c_str());
}

// A fixed load through both servers, `rounds` times alternated; prints both rows and the ratios.
void compare(const Servers& servers, const char* title, const Load& load, int rounds) {
    std::vector<Outcome> runs[2];
    for (int round = 0; round < rounds; ++round)
        for (int k = 0; k < 2; ++k) {
            const int which = (round + k) % 2;
            Server s = servers.start(which);
            runs[which].push_back(drive(s, load));
            stop_server(s);
        }
    std::printf("%s\n", title);
    print_row("room server", runs[0]);
    print_row("relay", runs[1]);
    // Every delivery of the rounds together: a round's p99.9 rests on a handful of packets (each reaches
    // every receiver at about the same moment), so one stall of the machine decides it; pooled, the tail
    // rests on `rounds` times as many.
    std::vector<float> pooled[2];
    for (int k = 0; k < 2; ++k) {
        for (const Outcome& o : runs[k])
            pooled[k].insert(pooled[k].end(), o.delays.begin(), o.delays.end());
        std::sort(pooled[k].begin(), pooled[k].end());
    }
    auto ratio = [&](double q) {
        const double b = percentile(pooled[1], q);
        return b > 0 ? percentile(pooled[0], q) / b : 0.0;
    };
    int packets = 0;
    for (const Outcome& o : runs[0])
        packets += o.packets;
    std::printf(
        "  pooled over the rounds (each server: %zu deliveries of %d packets): room server p50 %.3f p99 %.3f "
        "p99.9 %.3f ms, relay p50 %.3f p99 %.3f p99.9 %.3f ms; ratio p50 %.2f, p99 %.2f, p99.9 %.2f\n",
        pooled[0].size(), packets, percentile(pooled[0], 0.5), percentile(pooled[0], 0.99),
        percentile(pooled[0], 0.999), percentile(pooled[1], 0.5), percentile(pooled[1], 0.99),
        percentile(pooled[1], 0.999), ratio(0.5), ratio(0.99), ratio(0.999));
    std::printf("  ratio room/relay (per round: median (min-max)): CPU per delivery %s, p50 %s, p99 %s, "
                "p99.9 %s (goal: at most 1.1)\n",
                spread(ratios(runs[0], runs[1], [](const Outcome& o) { return o.us_per_delivery(); }), "%.2f")
                    .c_str(),
                spread(ratios(runs[0], runs[1], [](const Outcome& o) { return o.p50; }), "%.2f").c_str(),
                spread(ratios(runs[0], runs[1], [](const Outcome& o) { return o.p99; }), "%.2f").c_str(),
                spread(ratios(runs[0], runs[1], [](const Outcome& o) { return o.p999; }), "%.2f").c_str());
    std::fflush(stdout);
}

// ---- Capacity: a driver that costs little per delivery ----
//
// On two cores the users run beside the server, so whatever they spend per delivery is taken from the server.
// The capacity runs therefore use users that do as little as they can per delivery:
// - receivers are not woken per frame: one thread visits every receiver once every kReadPeriodMs (a 4 MB
//   buffer, a window held to 1 MB so the kernel acknowledges as data arrives, as for a prompt reader), asks
//   the kernel how much waits (SIOCINQ), drops all whole frames but the last unread (recv with MSG_TRUNC: the
//   kernel frees them without copying) and reads the last one with its kernel receive time (SO_TIMESTAMPING,
//   software receive stamps). Three calls a receiver and visit, whatever the number of frames; the kernel
//   acknowledges once a visit rather than per frame;
// - the delay is the kernel's receipt of that last frame less the time the sender stamped into it, both on
//   the real-time clock: one sample a visit and receiver, and the driver's own scheduling is not in it;
// - senders batch: one thread sends everything due each millisecond (each frame stamped as it goes);
// - losses are counted in bytes: once the set-up's packets are read, a receiver gets nothing but video frames
//   of one size, so its byte count says how many frames reached it (a frame of another size or type ends the
//   run with a message rather than a wrong count).
// The server is started once a round; the steps (numbers of cameras) run one after another on it, each
// drained before the next.

const int kReadPeriodMs = env_int("FANOUT_READ_MS", 10);
constexpr size_t kVideoFrameSize = framing::kHeaderSize + proto::VideoFrame::kHeader + kFrameBytes;

int64_t real_ns() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct CapacityShape {
    int rooms = 4;
    int watchers = 50;     // a room
    int max_cameras = 400; // connected once; each step uses the first ones (spread over the rooms)
    double warm_s = 0.5;
    double seconds = 2;
};

struct StepOutcome {
    int cameras = 0;
    double deliveries_per_s = 0;
    double delivered = 0;
    double p50 = 0, p99 = 0, p999 = 0;
    double server_cores = 0, driver_cores = 0;
    double server_waited = 0;         // seconds a second the server's threads were runnable but not running
    std::vector<double> busy_threads; // cores busy of each server thread that did work
    double server_us = 0, driver_us = 0; // CPU per delivery
    bool kept_pace = true;
    bool lossless() const { return kept_pace && delivered >= 1.0 && p999 <= kCapacityDelayMs; }
};

class CapacityDriver {
public:
    CapacityDriver(const Server& server, const CapacityShape& shape) : server_(server), shape_(shape) {}
    ~CapacityDriver() {
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
        for (int fd : senders_)
            close(fd);
        for (Receiver& r : receivers_)
            close(r.fd);
    }

    // Logs everybody in, has every receiver watch every camera of its room, reads what the set-up sent and
    // starts the reader. False (with a message) when that fails.
    bool connect() {
        for (int s = 0; s < shape_.max_cameras; ++s) {
            const int fd = login(uint32_t(1 + s), room_of_camera(s));
            if (fd < 0)
                return false;
            senders_.push_back(fd);
        }
        for (int r = 0; r < shape_.rooms * shape_.watchers; ++r) {
            const uint32_t room = uint32_t(1 + r % shape_.rooms);
            const int fd = login(uint32_t(100000 + r), room, env_int("FANOUT_RCVBUF", 2 << 20));
            if (fd < 0)
                return false;
            // The window offered stays well below the buffer, so the kernel still acknowledges as data
            // arrives (as it does for a receiver that reads at once) rather than only when a visit frees
            // room.
            const int clamp = env_int("FANOUT_WINDOW_CLAMP", 1 << 20);
            if (clamp > 0)
                setsockopt(fd, IPPROTO_TCP, TCP_WINDOW_CLAMP, &clamp, sizeof clamp);
            for (int s = 0; s < shape_.max_cameras; ++s)
                if (room_of_camera(s) == room)
                    send_all(fd, framing::make_frame(pkt::kWatchVideo,
                                                     proto::WatchVideo{uint32_t(1 + s), 1}.encode()));
            const int stamps = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
            if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &stamps, sizeof stamps) != 0) {
                std::fprintf(stderr, "fanout_bench: no receive time stamps: %s\n", std::strerror(errno));
                return false;
            }
            receivers_.push_back(Receiver{fd, room});
        }
        // Whatever the set-up sent (login answers, users entering) is read and parsed away, so that from
        // here on every receiver's stream is whole video frames.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (Receiver& r : receivers_)
            if (!read_set_up(r.fd))
                return false;
        reader_ = std::thread([this] { read_loop(); });
        return true;
    }

    // `cameras` cameras at kCapacityCameraRate for warm-up and measured seconds, then drained.
    StepOutcome step(int cameras) {
        cameras = std::clamp(cameras, 1, shape_.max_cameras);
        StepOutcome o;
        o.cameras = cameras;
        const uint64_t bytes_before = received_bytes();
        // Frames a receiver of each room should get from this step.
        std::vector<uint64_t> per_room(size_t(shape_.rooms) + 1, 0);
        const double span = shape_.warm_s + shape_.seconds;
        const int frames_each = int(std::lround(span * kCapacityCameraRate));
        std::vector<int> sent(size_t(cameras), 0);
        std::vector<uint8_t> frame = video_frame();
        const auto start = Clock::now();
        const int64_t start_real = real_ns();
        measure_from_ = start_real + int64_t(shape_.warm_s * 1e9);
        measure_to_ = start_real + int64_t(span * 1e9);
        SchedTimes server0, driver0;
        std::vector<double> threads0;
        bool measuring = false;
        uint32_t seq = 0;
        for (bool more = true; more;) {
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            if (!measuring && t >= shape_.warm_s) {
                measuring = true;
                server0 = sched_times(server_.pid);
                threads0 = thread_cpu_seconds(server_.pid);
                driver0 = sched_times(getpid());
            }
            more = false;
            // Everything due by now, each camera at its own moment within the frame interval.
            for (int c = 0; c < cameras; ++c) {
                while (sent[size_t(c)] < frames_each &&
                       (double(sent[size_t(c)]) + double(c) / cameras) / kCapacityCameraRate <= t) {
                    const int64_t now = real_ns();
                    std::memcpy(frame.data() + 6 + proto::VideoFrame::kHeader, &now, 8);
                    std::memcpy(frame.data() + 6 + proto::VideoFrame::kHeader + 8, &seq, 4);
                    ++seq;
                    send_all(senders_[size_t(c)], frame);
                    ++sent[size_t(c)];
                    ++per_room[room_of_camera(c)];
                }
                more |= sent[size_t(c)] < frames_each;
            }
            if (more)
                std::this_thread::sleep_until(start +
                                              std::chrono::microseconds(int64_t(t * 1000 + 1) * 1000));
        }
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        const double measured_s = took - shape_.warm_s;
        const SchedTimes server_times = sched_times(server_.pid) - server0;
        const SchedTimes driver_times = sched_times(getpid()) - driver0;
        const double server_cpu = server_times.cpu_s, driver_cpu = driver_times.cpu_s;
        std::vector<double> threads = thread_cpu_seconds(server_.pid);
        for (size_t i = 0; i < threads.size() && i < threads0.size() && measured_s > 0; ++i)
            if (threads[i] - threads0[i] > 0.01 * measured_s)
                o.busy_threads.push_back((threads[i] - threads0[i]) / measured_s);
        o.kept_pace = took <= span + 0.05 + span * 0.02;

        uint64_t expected = 0;
        for (int room = 1; room <= shape_.rooms; ++room)
            expected += per_room[size_t(room)] * uint64_t(shape_.watchers);
        expected *= kVideoFrameSize;
        // Drained: everything arrived, or nothing more for 300 ms (at most 3 s).
        uint64_t seen = received_bytes();
        auto quiet_since = Clock::now();
        const auto drain_end = Clock::now() + std::chrono::seconds(3);
        while (seen - bytes_before < expected && Clock::now() < drain_end &&
               Clock::now() - quiet_since < std::chrono::milliseconds(300)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (received_bytes() != seen) {
                seen = received_bytes();
                quiet_since = Clock::now();
            }
        }
        if (misaligned_) {
            std::fprintf(stderr, "fanout_bench: %s\n", misaligned_what_.c_str());
            std::exit(1);
        }
        std::vector<float> delays;
        {
            std::lock_guard lock(samples_mutex_);
            delays.swap(samples_);
        }
        o.delivered = expected ? double(seen - bytes_before) / double(expected) : 0;
        // Deliveries offered in the measured stretch (all of them arrive in a step that passes).
        const double measured_deliveries =
            double(cameras) * kCapacityCameraRate * shape_.watchers * shape_.seconds;
        o.deliveries_per_s = double(expected / kVideoFrameSize) / span;
        o.server_cores = measured_s > 0 ? server_cpu / measured_s : 0;
        o.server_waited = measured_s > 0 ? server_times.waited_s / measured_s : 0;
        o.driver_cores = measured_s > 0 ? driver_cpu / measured_s : 0;
        o.server_us = measured_deliveries > 0 ? server_cpu * 1e6 / measured_deliveries : 0;
        o.driver_us = measured_deliveries > 0 ? driver_cpu * 1e6 / measured_deliveries : 0;
        std::sort(delays.begin(), delays.end());
        auto pct = [&](double q) {
            return delays.empty()
                       ? 1e9
                       : double(delays[std::min(delays.size() - 1, size_t(q * double(delays.size())))]);
        };
        o.p50 = pct(0.5);
        o.p99 = pct(0.99);
        o.p999 = pct(0.999);
        // The next step starts on empty queues.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return o;
    }

private:
    struct Receiver {
        int fd = -1;
        uint32_t room = 0;
        uint64_t taken = 0; // bytes since the set-up (read or dropped)
    };

    uint32_t room_of_camera(int s) const { return uint32_t(1 + s % shape_.rooms); }

    int login(uint32_t user, uint32_t room, int receive_buffer = 0) {
        const int fd = connect_to(server_.port, receive_buffer);
        proto::Login l;
        l.user_id = user;
        l.room_id = room;
        if (fd < 0 || !send_all(fd, framing::make_frame(pkt::kLogin, l.encode())) ||
            !wait_for_type(fd, pkt::kLoginResult)) {
            std::fprintf(stderr, "fanout_bench: login of %u to %s failed\n", user, server_.name);
            if (fd >= 0)
                close(fd);
            return -1;
        }
        return fd;
    }

    static std::vector<uint8_t> video_frame() {
        proto::VideoFrame f;
        f.frame.assign(kFrameBytes, 0x11);
        f.key_frame = 1;
        f.capture_length = uint32_t(kFrameBytes);
        return framing::make_frame(pkt::kVideoFrame, f.encode());
    }

    // Reads and parses until nothing more comes for 50 ms and the last frame is whole.
    static bool read_set_up(int fd) {
        std::vector<uint8_t> buf(1 << 16), pending;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                if (!pending.empty())
                    std::fprintf(stderr, "fanout_bench: a set-up packet was cut short\n");
                return pending.empty();
            }
            const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0)
                return false;
            pending.insert(pending.end(), buf.data(), buf.data() + n);
            size_t at = 0;
            while (pending.size() - at >= 4) {
                uint32_t length;
                std::memcpy(&length, pending.data() + at, 4);
                if (pending.size() - at < 4 + size_t(length))
                    break;
                at += 4 + size_t(length);
            }
            pending.erase(pending.begin(), pending.begin() + long(at));
        }
    }

    uint64_t received_bytes() const { return received_.load(); }

    void read_loop() {
        std::vector<uint8_t> last(kVideoFrameSize);
        alignas(8) char control[256];
        auto next = Clock::now();
        while (!stop_) {
            next += std::chrono::milliseconds(kReadPeriodMs);
            std::this_thread::sleep_until(next);
            if (Clock::now() > next + std::chrono::milliseconds(kReadPeriodMs))
                next = Clock::now(); // late: no burst of visits to catch up
            uint64_t taken = 0;
            for (Receiver& r : receivers_)
                taken += visit(r, last, control, sizeof control);
            received_ += taken;
            // The senders' sockets get the room's notices; nobody needs them.
            for (int fd : senders_)
                while (recv(fd, nullptr, 1 << 20, MSG_TRUNC | MSG_DONTWAIT) > 0) {
                }
        }
    }

    // One visit to a receiver: drops every whole frame but the last, reads the last with its time stamp.
    // Returns the bytes taken.
    uint64_t visit(Receiver& r, std::vector<uint8_t>& last, char* control, size_t control_size) {
        int waiting = 0;
        if (ioctl(r.fd, SIOCINQ, &waiting) != 0 || waiting <= 0)
            return 0;
        const uint64_t end = r.taken + uint64_t(waiting);
        const uint64_t whole_end = end / kVideoFrameSize * kVideoFrameSize;
        if (whole_end < kVideoFrameSize || whole_end - kVideoFrameSize < r.taken) {
            // No frame wholly unread: drop what is there.
            const ssize_t n = recv(r.fd, nullptr, size_t(waiting), MSG_TRUNC | MSG_DONTWAIT);
            if (n > 0)
                r.taken += uint64_t(n);
            return n > 0 ? uint64_t(n) : 0;
        }
        const uint64_t before = r.taken;
        const uint64_t drop = whole_end - kVideoFrameSize - r.taken;
        if (drop > 0) {
            const ssize_t n = recv(r.fd, nullptr, size_t(drop), MSG_TRUNC | MSG_DONTWAIT);
            if (n > 0)
                r.taken += uint64_t(n);
            if (n != ssize_t(drop))
                return r.taken - before;
        }
        iovec iov{last.data(), last.size()};
        msghdr m{};
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = control_size;
        const ssize_t n = recvmsg(r.fd, &m, MSG_DONTWAIT);
        if (n > 0)
            r.taken += uint64_t(n);
        if (n != ssize_t(last.size()))
            return r.taken - before;
        uint32_t length;
        uint16_t type;
        std::memcpy(&length, last.data(), 4);
        std::memcpy(&type, last.data() + 4, 2);
        if (length != kVideoFrameSize - 4 || type != pkt::kVideoFrame) {
            char what[160];
            std::snprintf(what, sizeof what,
                          "a receiver got a packet of type %u and length %u among the video frames; the "
                          "capacity count assumes video frames of one size only",
                          unsigned(type), unsigned(length));
            misaligned_what_ = what;
            misaligned_ = true;
            return r.taken - before;
        }
        int64_t received = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPING) {
                scm_timestamping stamps;
                std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
                received = int64_t(stamps.ts[0].tv_sec) * 1000000000 + stamps.ts[0].tv_nsec;
            }
        int64_t sent;
        std::memcpy(&sent, last.data() + 6 + proto::VideoFrame::kHeader, 8);
        if (received > 0 && sent >= measure_from_ && sent < measure_to_) {
            std::lock_guard lock(samples_mutex_);
            samples_.push_back(float(double(received - sent) / 1e6));
        }
        return r.taken - before;
    }

    const Server& server_;
    CapacityShape shape_;
    std::vector<int> senders_;
    std::vector<Receiver> receivers_; // the reader's once it runs
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::atomic<int64_t> measure_from_{0}, measure_to_{0};
    std::mutex samples_mutex_;
    std::vector<float> samples_;
    std::atomic<bool> misaligned_{false};
    std::string misaligned_what_; // written before misaligned_ is set
};

// The most cameras that one server carries losslessly, found on one start of it: up by 25 % from
// `*start_cameras` until a step fails, then halving the gap to within an eighth. `*start_cameras` becomes the
// result (where the next round starts). Returns the step at the most that passed (cameras 0: none did).
StepOutcome capacity(const std::string& command, const char* name, const fs::path& work,
                     const CapacityShape& shape, int* start_cameras) {
    Server server = start_server(name, command, work);
    StepOutcome best;
    {
        CapacityDriver driver(server, shape);
        if (!driver.connect())
            std::exit(1);
        int cameras = std::clamp(*start_cameras, 1, shape.max_cameras);
        int passed = 0, failed = 0;
        for (int step = 0; step < 12; ++step) {
            const StepOutcome o = driver.step(cameras);
            if (env_int("FANOUT_VERBOSE", 0)) {
                std::string each;
                for (double b : o.busy_threads)
                    each += " " + std::to_string(b).substr(0, 4);
                std::fprintf(
                    stderr,
                    "  %s: %d cameras, %.0f/s, delivered %.4f, kept pace %d, p50 %.2f p99 %.2f p99.9 %.2f "
                    "ms, cores %.2f (users %.2f; server threads%s), server waited for a CPU %.0f ms/s\n",
                    name, cameras, o.deliveries_per_s, o.delivered, int(o.kept_pace), o.p50, o.p99, o.p999,
                    o.server_cores, o.driver_cores, each.c_str(), o.server_waited * 1000);
            }
            if (o.lossless()) {
                passed = cameras;
                best = o;
            } else
                failed = cameras;
            if (passed && failed && failed - passed <= std::max(1, passed / 8))
                break;
            if (!failed) {
                if (cameras == shape.max_cameras)
                    break;
                cameras = std::min(shape.max_cameras, std::max(cameras + 1, cameras * 5 / 4));
            } else if (!passed) {
                if (cameras == 1)
                    break;
                cameras = std::max(1, cameras * 3 / 4);
            } else
                cameras = (passed + failed) / 2;
        }
        *start_cameras = std::max(1, passed);
    }
    stop_server(server);
    return best;
}

std::vector<double> pick_step(const std::vector<StepOutcome>& runs, double (*f)(const StepOutcome&)) {
    std::vector<double> v;
    for (const StepOutcome& o : runs)
        v.push_back(f(o));
    return v;
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    const fs::path self = fs::canonical("/proc/self/exe").parent_path();
    const fs::path built = fs::absolute(argc > 1 ? fs::path(argv[1]) : self.parent_path());
    const int rounds = std::max(1, env_int("FANOUT_ROUNDS", 3));
    const double seconds = std::max(1, env_int("FANOUT_SECONDS", 5));
    Servers servers;
    servers.work = fs::temp_directory_path() / ("quorin-fanout-" + std::to_string(getpid()));
    fs::create_directories(servers.work);
    // FANOUT_ROOM_ARGS: more options for the room server (e.g. "--threads 1"); FANOUT_PEER_ARGS: the peer is
    // then the room server with these options instead of the relay (one thread against two, say).
    const char* room_args = std::getenv("FANOUT_ROOM_ARGS");
    const char* peer_args = std::getenv("FANOUT_PEER_ARGS");
    const std::string velmor =
        "'" + (built / "out" / "velmor").string() + "' --room-server --listen 127.0.0.1:PORT";
    servers.room = velmor + (room_args ? std::string(" ") + room_args : "");
    const char* peer_command = std::getenv("FANOUT_PEER_COMMAND");
    servers.relay = peer_command ? std::string(peer_command)
                    : peer_args  ? velmor + " " + peer_args
                                 : "'" + (built / "bench" / "fanout_relay").string() + "' PORT";
    if (peer_command)
        std::printf("(the peer called relay below is: %s)\n", peer_command);
    else if (peer_args)
        std::printf("(the peer called relay below is: velmor --room-server %s; the room server: velmor "
                    "--room-server %s; %d room(s))\n",
                    peer_args, room_args ? room_args : "", Load{}.rooms);

    std::ifstream loadavg("/proc/loadavg");
    std::string la;
    std::getline(loadavg, la);
    std::printf(
        "== fanout_bench: room server (velmor --room-server) against a plain epoll relay of the same framing "
        "(bench/fanout_relay), each in its own process; this process drives; %d rounds alternated, %.0f s "
        "measured each; median (min-max); %u cores, load average %s\n",
        rounds, seconds, std::thread::hardware_concurrency(), la.c_str());
    // FANOUT_LOADS picks the fixed loads, e.g. "50,voice" (default: all of them).
    const std::string loads = std::getenv("FANOUT_LOADS") ? std::getenv("FANOUT_LOADS") : "10,50,200,voice";
    auto wanted = [&](const std::string& name) {
        return ("," + loads + ",").find("," + name + ",") != std::string::npos;
    };
    for (int n : {10, 50, 200}) {
        if (!wanted(std::to_string(n)))
            continue;
        char title[160];
        std::snprintf(title, sizeof title,
                      "video: 10 cameras x %d frames/s x %zu bytes to N=%d watching each", kCameraRate,
                      kFrameBytes, n);
        Load load;
        load.receivers = n;
        load.seconds = seconds;
        compare(servers, title, load, rounds);
    }
    if (wanted("voice")) {
        Load load;
        load.voice = true;
        load.receivers = 50;
        load.senders = 1;
        load.rate = kVoiceRate;
        load.seconds = seconds;
        char title[160];
        std::snprintf(title, sizeof title, "voice: 1 speaker, %zu-byte packets at %d/s to N=50", kVoiceBytes,
                      kVoiceRate);
        compare(servers, title, load, rounds);
    }
    if (env_int("FANOUT_CAPACITY", 1)) {
        CapacityShape shape;
        shape.rooms = std::max(1, env_int("FANOUT_CAPACITY_ROOMS", shape.rooms));
        shape.watchers = std::max(1, env_int("FANOUT_CAPACITY_WATCHERS", shape.watchers));
        shape.seconds = std::max(1, env_int("FANOUT_CAPACITY_SECONDS", int(shape.seconds)));
        shape.max_cameras = std::max(shape.rooms, env_int("FANOUT_CAPACITY_CAMERAS", shape.max_cameras));
        std::printf(
            "capacity: lossless deliveries a second (every frame to every watcher, p99.9 delay under %.0f "
            "ms, "
            "senders on schedule); %d rooms x %d watchers, each watching every camera of its room; cameras "
            "at "
            "%d frames/s of %zu B; on one start of a server a round, steps of %.1f s (%.1f s measured) going "
            "up "
            "by 25 %% until one fails, then halving the gap to an eighth; %d rounds, the three servers "
            "alternated\n",
            kCapacityDelayMs, shape.rooms, shape.watchers, kCapacityCameraRate, kFrameBytes,
            shape.warm_s + shape.seconds, shape.seconds, rounds);
        std::printf(
            "  the users here: receivers are visited every %d ms, not woken per frame: the bytes waiting "
            "(SIOCINQ), every whole frame but the last dropped unread (MSG_TRUNC), the last read; "
            "senders send what is due each millisecond. On loopback each side's kernel does some of the "
            "other's work (a send queues into the receiver's socket; an acknowledgement frees the sender's "
            "buffers)\n"
            "  delay: the kernel's receive time of that last frame (SO_TIMESTAMPING, software) less "
            "the send time in it, one sample a visit and receiver: the users' scheduling is not in it\n",
            kReadPeriodMs);
        std::fflush(stdout);
        struct Config {
            std::string label, command;
            std::vector<StepOutcome> runs;
            int start = 40;
        };
        const std::string room_extra = room_args ? std::string(" ") + room_args : "";
        std::vector<Config> configs = {
            {"room server, 1 thread", velmor + " --threads 1" + room_extra, {}, 40},
            {"room server, 2 threads", velmor + " --threads 2" + room_extra, {}, 60},
            {peer_command ? "peer" : "relay (1 thread)",
             peer_command ? std::string(peer_command) : servers.relay,
             {},
             40},
        };
        // FANOUT_CAPACITY_SERVERS picks some of them by number (0, 1, 2), e.g. "0,1".
        const std::string only =
            std::getenv("FANOUT_CAPACITY_SERVERS") ? std::getenv("FANOUT_CAPACITY_SERVERS") : "0,1,2";
        for (int round = 0; round < rounds; ++round)
            for (size_t k = 0; k < configs.size(); ++k) {
                const size_t which = (size_t(round) + k) % configs.size();
                if (only.find(char('0' + which)) == std::string::npos)
                    continue;
                Config& c = configs[which];
                c.runs.push_back(capacity(c.command, c.label.c_str(), servers.work, shape, &c.start));
            }
        for (const Config& c : configs) {
            const auto& r = c.runs;
            if (r.empty())
                continue;
            std::printf(
                "  %-23s %s/s; there: cores busy %s (the users %s; the server waited for a CPU %s ms/s), "
                "CPU a delivery %s us (the users %s); delay p50 %s p99 %s p99.9 %s ms\n",
                c.label.c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.deliveries_per_s; }), "%.0f").c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.server_cores; }), "%.2f").c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.driver_cores; }), "%.2f").c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.server_waited * 1000; }), "%.0f")
                    .c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.server_us; }), "%.2f").c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.driver_us; }), "%.2f").c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.p50; }), "%.2f").c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.p99; }), "%.2f").c_str(),
                spread(pick_step(r, [](const StepOutcome& o) { return o.p999; }), "%.2f").c_str());
        }
        auto ratio = [&](size_t a, size_t b) {
            std::vector<double> v;
            for (size_t i = 0; i < configs[a].runs.size() && i < configs[b].runs.size(); ++i)
                v.push_back(configs[b].runs[i].deliveries_per_s > 0
                                ? configs[a].runs[i].deliveries_per_s / configs[b].runs[i].deliveries_per_s
                                : 0);
            return spread(v, "%.2f");
        };
        std::vector<double> share;
        for (const Config& c : configs)
            for (const StepOutcome& o : c.runs)
                if (o.server_us > 0)
                    share.push_back(o.driver_us / o.server_us * 100);
        std::printf(
            "  ratio 2 threads / 1 thread (per round): %s (goal: at least 1.8); 1 thread / relay: %s; "
            "the users' CPU a delivery is %s %% of the server's\n",
            ratio(1, 0).c_str(), ratio(0, 2).c_str(), share.empty() ? "-" : spread(share, "%.0f").c_str());
        // What a core of the server's CPU carries at the most that passed: a second thread that cost more per
        // delivery (locks, shared state) would show here whatever the machine's other load.
        std::vector<double> per_core[2];
        for (int k = 0; k < 2; ++k)
            for (const StepOutcome& o : configs[size_t(k)].runs)
                if (o.server_us > 0)
                    per_core[k].push_back(1e6 / o.server_us);
        std::vector<double> per_core_ratio;
        for (size_t i = 0; i < per_core[0].size() && i < per_core[1].size(); ++i)
            per_core_ratio.push_back(per_core[1][i] / per_core[0][i]);
        std::printf("  deliveries per second of the server's CPU there: 1 thread %s, 2 threads %s; ratio %s "
                    "(1: the second thread costs nothing per delivery)\n",
                    spread(per_core[0], "%.0f").c_str(), spread(per_core[1], "%.0f").c_str(),
                    spread(per_core_ratio, "%.2f").c_str());
        std::fflush(stdout);
    }
    fs::remove_all(servers.work);
    return 0;
}
