// A class arriving at once: N users log in to one room of a room server (`velmor --room-server`, a process of
// its own) while this program, a second process, plays the users. Logins go out as fast as the server
// answers them, at most `window` waiting at a time, from many loopback addresses (as students come from many
// machines), and the run ends when every user knows every other one (user present or user entered).
//
// Figures per run: the time until everybody knows everybody, the server's CPU time (the kernel's per-thread
// run time) and its send calls (counted by perf), the bytes and packets the users received beside the floor
// (each user told of each other user once, with its own login answer), and the time from a login to its
// answer (p50, p99). With JOIN_PEER set to another velmor, runs alternate between the two and the ratios are
// printed (used to compare a change with the program before it).
//
//   join_bench [BUILD_DIR]   JOIN_USERS (default 1000), JOIN_WINDOW (default 256), JOIN_ROUNDS (default 3),
//                            JOIN_PEER (a second velmor to alternate with)
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#include "bench_server.h"
#include "process_figures.h"

namespace {

constexpr uint32_t kRoom = 1;
constexpr uint32_t kFirstUser = 1000;
constexpr int kAddresses = 250; // 127.0.0.2 and on: the server's cap per address never applies

// Send calls (send, sendmsg, write, writev) of a running process, counted by perf on the kernel's system-call
// trace points; not counted when perf is missing or may not trace.
class SendCounter {
public:
    SendCounter(pid_t pid, const fs::path& work) : file_(work / ("sends-" + std::to_string(pid) + ".csv")) {
        if (access("/usr/bin/perf", X_OK) != 0)
            return;
        perf_ = spawn_process("/usr/bin/perf",
                              {"stat", "-x,", "-o", file_.string(), "-e",
                               "syscalls:sys_enter_sendmsg,syscalls:sys_enter_sendto,syscalls:sys_enter_"
                               "write,syscalls:sys_enter_writev",
                               "-p", std::to_string(pid)},
                              work.string());
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // attached before the first login
    }
    // Stops counting; -1 when nothing was counted.
    double stop() {
        if (perf_ <= 0)
            return -1;
        kill(perf_, SIGINT);
        wait_process(perf_, 5000);
        std::ifstream f(file_);
        std::string line;
        double total = 0;
        int counted = 0;
        while (std::getline(f, line)) {
            if (line.empty() || line[0] == '#' || !std::isdigit(static_cast<unsigned char>(line[0])))
                continue;
            total += std::atof(line.c_str());
            ++counted;
        }
        return counted == 4 ? total : -1;
    }

private:
    fs::path file_;
    pid_t perf_ = 0;
};

int connect_from(uint32_t source, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(source);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

struct User {
    int fd = -1;
    framing::Decoder decoder;
    Clock::time_point sent, answered;
    bool logged_in = false;
    std::vector<bool> known; // by index of the other user
    int known_count = 0;
    bool duplicate = false;
};

struct Outcome {
    double all_known_s = 0;
    double cpu_s = 0;
    double sends = -1; // send calls of the server; -1: not counted
    uint64_t bytes = 0, packets = 0;
    double answer_p50_ms = 0, answer_p99_ms = 0;
    bool complete = false;
};

Outcome run(const std::string& velmor, const fs::path& work, int users, int window) {
    BenchServer server =
        start_server("the room server", "'" + velmor + "' --room-server --listen 127.0.0.1:PORT", work);
    SendCounter sends(server.pid, work);
    const double cpu_before = cpu_seconds(server.pid);
    std::vector<User> all(static_cast<size_t>(users));
    for (User& u : all)
        u.known.assign(size_t(users), false);
    const int ep = epoll_create1(0);
    Outcome o;
    int sent = 0, waiting = 0, done = 0;
    std::vector<uint8_t> chunk(1 << 17);
    std::vector<epoll_event> events(512);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(120);
    while (done < users && Clock::now() < deadline) {
        while (sent < users && waiting < window) {
            User& u = all[size_t(sent)];
            const uint32_t source = (127u << 24) | uint32_t(2 + sent % kAddresses);
            u.fd = connect_from(source, server.port);
            if (u.fd < 0) {
                std::fprintf(stderr, "join_bench: cannot connect user %d: %s\n", sent, std::strerror(errno));
                std::exit(1);
            }
            proto::Login l;
            l.user_id = kFirstUser + uint32_t(sent);
            l.room_id = kRoom;
            const auto frame = framing::make_frame(pkt::kLogin, l.encode());
            u.sent = Clock::now();
            if (send(u.fd, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size())) {
                std::fprintf(stderr, "join_bench: login of user %d not sent\n", sent);
                std::exit(1);
            }
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u32 = uint32_t(sent);
            epoll_ctl(ep, EPOLL_CTL_ADD, u.fd, &ev);
            ++sent;
            ++waiting;
        }
        const int n = epoll_wait(ep, events.data(), int(events.size()), 50);
        for (int e = 0; e < n; ++e) {
            const uint32_t i = events[e].data.u32;
            User& u = all[i];
            const ssize_t got = recv(u.fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
            if (got <= 0) {
                if (got == 0) {
                    std::fprintf(stderr, "join_bench: the server closed user %u\n", i);
                    std::exit(1);
                }
                continue;
            }
            o.bytes += uint64_t(got);
            const int before = u.known_count;
            u.decoder.feed(chunk.data(), size_t(got), [&](uint16_t type, const uint8_t* p, uint32_t size) {
                ++o.packets;
                if (type == pkt::kLoginResult) {
                    auto r = proto::LoginResult::decode(p, size);
                    if (!r || r->result != 0) {
                        std::fprintf(stderr, "join_bench: login of user %u refused\n", i);
                        std::exit(1);
                    }
                    u.logged_in = true;
                    u.answered = Clock::now();
                    --waiting;
                } else if (type == pkt::kUserPresent || type == pkt::kUserEntered) {
                    auto b = proto::UserBlock::decode(p, size);
                    const uint32_t k = b ? b->user_id - kFirstUser : uint32_t(users);
                    if (k >= uint32_t(users) || k == i || u.known[k]) {
                        u.duplicate = true;
                        return;
                    }
                    u.known[k] = true;
                    ++u.known_count;
                }
            });
            if (u.logged_in && before < users - 1 && u.known_count == users - 1)
                ++done;
        }
    }
    o.all_known_s = std::chrono::duration<double>(Clock::now() - start).count();
    o.complete = done == users;
    o.cpu_s = cpu_seconds(server.pid) - cpu_before;
    o.sends = sends.stop();
    std::vector<double> answer;
    for (User& u : all) {
        if (u.duplicate)
            o.complete = false;
        if (u.logged_in)
            answer.push_back(std::chrono::duration<double, std::milli>(u.answered - u.sent).count());
        if (u.fd >= 0)
            close(u.fd);
    }
    close(ep);
    stop_server(server);
    std::sort(answer.begin(), answer.end());
    if (!answer.empty()) {
        o.answer_p50_ms = answer[answer.size() / 2];
        o.answer_p99_ms = answer[std::min(answer.size() - 1, size_t(0.99 * double(answer.size())))];
    }
    return o;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string spread(const std::vector<double>& v, const char* fmt) {
    char a[32], b[32], c[32], out[112];
    std::snprintf(a, sizeof a, fmt, median(v));
    std::snprintf(b, sizeof b, fmt, *std::min_element(v.begin(), v.end()));
    std::snprintf(c, sizeof c, fmt, *std::max_element(v.begin(), v.end()));
    std::snprintf(out, sizeof out, "%s (%s-%s)", a, b, c);
    return out;
}

template <class F> std::vector<double> pick(const std::vector<Outcome>& runs, F f) {
    std::vector<double> v;
    for (const Outcome& o : runs)
        v.push_back(f(o));
    return v;
}

std::string load_average() {
    std::ifstream f("/proc/loadavg");
    std::string la;
    std::getline(f, la);
    return la.substr(0, la.find(' ', la.find(' ', la.find(' ') + 1) + 1));
}

void print_row(const char* label, const std::vector<Outcome>& runs, int users, double floor_bytes) {
    std::printf("  %-10s everybody knows everybody after %s s; server CPU %s s (%s ms a join), %s send calls "
                "a join\n",
                label, spread(pick(runs, [](const Outcome& o) { return o.all_known_s; }), "%.2f").c_str(),
                spread(pick(runs, [](const Outcome& o) { return o.cpu_s; }), "%.2f").c_str(),
                spread(pick(runs, [&](const Outcome& o) { return o.cpu_s * 1e3 / users; }), "%.2f").c_str(),
                runs[0].sends < 0
                    ? "(not counted: no perf)"
                    : spread(pick(runs, [&](const Outcome& o) { return o.sends / users; }), "%.1f").c_str());
    std::printf(
        "  %-10s received %s MB in %s packets (%s times the floor of %.1f MB); login answered p50 %s "
        "ms, p99 %s ms\n",
        "", spread(pick(runs, [](const Outcome& o) { return double(o.bytes) / 1e6; }), "%.1f").c_str(),
        spread(pick(runs, [](const Outcome& o) { return double(o.packets); }), "%.0f").c_str(),
        spread(pick(runs, [&](const Outcome& o) { return double(o.bytes) / floor_bytes; }), "%.3f").c_str(),
        floor_bytes / 1e6,
        spread(pick(runs, [](const Outcome& o) { return o.answer_p50_ms; }), "%.1f").c_str(),
        spread(pick(runs, [](const Outcome& o) { return o.answer_p99_ms; }), "%.1f").c_str());
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) { // both processes hold a descriptor per user
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    const fs::path self = fs::canonical("/proc/self/exe").parent_path();
    const fs::path built = fs::absolute(argc > 1 ? fs::path(argv[1]) : self.parent_path());
    const int users = std::max(2, env_int("JOIN_USERS", 1000));
    const int window = std::max(1, env_int("JOIN_WINDOW", 256));
    const int rounds = std::max(1, env_int("JOIN_ROUNDS", 3));
    const std::string ours = (built / "out" / "velmor").string();
    const char* peer = std::getenv("JOIN_PEER");
    const fs::path work = fs::temp_directory_path() / ("quorin-join-" + std::to_string(getpid()));
    fs::create_directories(work);

    // What every user must receive at the least: its login answer, its session token and the media start,
    // and one user block for every other user.
    const double per_user_floor = double(framing::kHeaderSize + 46) + double(framing::kHeaderSize + 16) +
                                  double(framing::kHeaderSize) +
                                  double(users - 1) * double(framing::kHeaderSize + proto::UserBlock::kSize);
    const double floor_bytes = per_user_floor * users;
    std::printf(
        "== join_bench: %d users log in to one room of velmor --room-server (its own process), at most "
        "%d logins waiting, from %d addresses; %d rounds%s; median (min-max); load average %s\n",
        users, window, kAddresses, rounds, peer ? " alternated with JOIN_PEER" : "", load_average().c_str());
    std::fflush(stdout);
    std::vector<Outcome> runs[2];
    for (int round = 0; round < rounds; ++round)
        for (int k = 0; k < (peer ? 2 : 1); ++k) {
            const int which = peer ? (round + k) % 2 : 0;
            Outcome o = run(which == 0 ? ours : std::string(peer), work, users, window);
            if (!o.complete) {
                std::fprintf(stderr, "join_bench: not every user learnt of every other one in time\n");
                return 1;
            }
            runs[which].push_back(o);
        }
    print_row("velmor", runs[0], users, floor_bytes);
    if (peer) {
        print_row("JOIN_PEER", runs[1], users, floor_bytes);
        std::vector<double> cpu, wall, writes;
        for (size_t i = 0; i < runs[0].size(); ++i) {
            cpu.push_back(runs[0][i].cpu_s / runs[1][i].cpu_s);
            wall.push_back(runs[0][i].all_known_s / runs[1][i].all_known_s);
            writes.push_back(runs[1][i].sends > 0 ? runs[0][i].sends / runs[1][i].sends : 0);
        }
        std::printf("  ratio velmor/JOIN_PEER per round: server CPU %s, time %s, send calls %s\n",
                    spread(cpu, "%.2f").c_str(), spread(wall, "%.2f").c_str(),
                    spread(writes, "%.2f").c_str());
    }
    std::printf("  load average after: %s\n", load_average().c_str());
    fs::remove_all(work);
    return 0;
}
