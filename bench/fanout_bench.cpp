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
// kCapacityDelayMs at p99.9, with the senders kept to their schedule (found by stepping the number of cameras
// by 25 %).
//
//   fanout_bench [BUILD_DIR]      FANOUT_SECONDS (default 5) sets the length of a measured run, FANOUT_ROUNDS
//                                 (default 3) the rounds, FANOUT_CAPACITY=0 leaves the capacity out,
//                                 FANOUT_LOADS the fixed loads ("10,50,200,voice" by default), FANOUT_ROOMS
//                                 the rooms the users are spread over, FANOUT_ROOM_ARGS more options for
//                                 velmor, FANOUT_PEER_ARGS velmor with these options as the peer instead of
//                                 the relay, FANOUT_PEER_COMMAND any peer's command line (PORT stands for
//                                 its port), e.g. an older velmor for a before/after comparison.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
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

int connect_to(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
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

// The most cameras (at kCapacityCameraRate each, every receiver watching every camera) that one server
// carries losslessly to `receivers`, found by steps of 25 % from `start`. Returns deliveries a second.
// `cores` gets the server's and the users' CPU (cores busy) at the most that passed.
double capacity(const Servers& servers, int which, int receivers, int* start_senders, double seconds,
                std::pair<double, double>* cores) {
    int senders = *start_senders;
    int passed = 0, failed = 0; // the most cameras that passed, the fewest that failed
    for (int step = 0; step < 10; ++step) {
        Load load;
        load.receivers = receivers;
        load.senders = senders;
        load.rate = kCapacityCameraRate;
        load.warm_s = 0.5;
        load.seconds = seconds;
        Server s = servers.start(which);
        const Outcome o = drive(s, load);
        const bool ok = o.lossless();
        stop_server(s);
        if (ok) {
            passed = senders;
            *cores = {o.cpu_s / seconds, o.driver_cpu_s / seconds};
        } else
            failed = senders;
        if (passed && failed && failed - passed <= std::max(1, passed / 8))
            break;
        if (!failed)
            senders = std::max(senders + 1, senders * 5 / 4);
        else if (!passed && senders > 1)
            senders = std::max(1, senders * 4 / 5);
        else if (!passed)
            break;
        else
            senders = (passed + failed) / 2;
    }
    *start_senders = std::max(1, passed);
    const int rooms = Load{}.rooms; // each camera reaches the receivers of its room
    return double(passed) * kCapacityCameraRate * double(receivers) / rooms;
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
        std::printf(
            "capacity: lossless deliveries a second (every frame to every watcher, p99.9 under %.0f ms, "
            "senders on schedule); cameras at %d frames/s, %.0f s steps\n",
            kCapacityDelayMs, kCapacityCameraRate, std::max(2.0, seconds / 2));
        for (int n : {10, 50, 200}) {
            std::vector<double> cap[2], server_cores[2], user_cores[2];
            int start[2] = {std::max(1, 40000 / (kCapacityCameraRate * n)),
                            std::max(1, 40000 / (kCapacityCameraRate * n))};
            for (int round = 0; round < rounds; ++round)
                for (int k = 0; k < 2; ++k) {
                    const int which = (round + k) % 2;
                    std::pair<double, double> cores{0, 0};
                    cap[which].push_back(
                        capacity(servers, which, n, &start[which], std::max(2.0, seconds / 2), &cores));
                    server_cores[which].push_back(cores.first);
                    user_cores[which].push_back(cores.second);
                }
            std::vector<double> r;
            for (size_t i = 0; i < cap[0].size(); ++i)
                r.push_back(cap[1][i] > 0 ? cap[0][i] / cap[1][i] : 0);
            std::printf("  N=%-3d room server %s/s, relay %s/s; ratio %s\n", n,
                        spread(cap[0], "%.0f").c_str(), spread(cap[1], "%.0f").c_str(),
                        spread(r, "%.2f").c_str());
            // Two cores in all: a server cannot show more than the users leave it.
            std::printf("         cores busy there: room server %s (users %s), relay %s (users %s)\n",
                        spread(server_cores[0], "%.2f").c_str(), spread(user_cores[0], "%.2f").c_str(),
                        spread(server_cores[1], "%.2f").c_str(), spread(user_cores[1], "%.2f").c_str());
            std::fflush(stdout);
        }
    }
    fs::remove_all(servers.work);
    return 0;
}
