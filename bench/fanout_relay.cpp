// The peer of the fan-out benchmark: a plain epoll relay of the room's framing, the least a server must do to
// pass camera frames and speech on. One thread. Each connection logs in (type 1: the user; answered with a
// login result of type 1001 so the driver knows it is in), watches cameras (type 25), and sends video (type
// 10: to the users who watch the sender) or voice (type 40: to everyone else). The sender's id is written
// into the packet as the room server does; each receiver gets one send(), and only what the socket does not
// take (EAGAIN or a short write) is queued, then written when epoll says the socket is writable.
//
//   fanout_relay PORT        listens on 127.0.0.1:PORT until killed
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

namespace {

constexpr uint16_t kLogin = 1, kLoginResult = 1001, kVideo = 10, kWatch = 25, kVoice = 40;
constexpr uint32_t kMaxLength = 1u << 20;
constexpr size_t kLoginSize = 48;

struct Conn {
    int fd = -1;
    uint32_t user = 0; // 0 until the login
    std::vector<uint8_t> in;
    size_t in_start = 0;
    std::vector<uint8_t> out; // what the socket did not take yet
    size_t out_start = 0;
    bool want_write = false;
    std::vector<Conn*> watchers; // who receives this user's video
};

int g_epoll = -1;
std::unordered_map<int, std::unique_ptr<Conn>> g_conns;
std::unordered_map<uint32_t, Conn*> g_users;

void watch_writable(Conn& c, bool on) {
    if (c.want_write == on)
        return;
    c.want_write = on;
    epoll_event ev{};
    ev.events = EPOLLIN | (on ? EPOLLOUT : 0u);
    ev.data.ptr = &c;
    epoll_ctl(g_epoll, EPOLL_CTL_MOD, c.fd, &ev);
}

// One send; whatever is left waits in the connection's queue.
void send_to(Conn& c, const uint8_t* data, size_t size) {
    if (c.out_start == c.out.size()) {
        const ssize_t n = send(c.fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == ssize_t(size))
            return;
        const size_t taken = n > 0 ? size_t(n) : 0;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return; // the reader notices the broken connection
        c.out.assign(data + taken, data + size);
        c.out_start = 0;
        watch_writable(c, true);
        return;
    }
    c.out.insert(c.out.end(), data, data + size);
}

void flush(Conn& c) {
    while (c.out_start < c.out.size()) {
        const ssize_t n =
            send(c.fd, c.out.data() + c.out_start, c.out.size() - c.out_start, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        c.out_start += size_t(n);
    }
    if (c.out_start == c.out.size()) {
        c.out.clear();
        c.out_start = 0;
        watch_writable(c, false);
    }
}

void drop(Conn* c) {
    if (c->user)
        g_users.erase(c->user);
    for (auto& [fd, other] : g_conns) {
        auto& w = other->watchers;
        for (size_t i = 0; i < w.size(); ++i)
            if (w[i] == c) {
                w[i] = w.back();
                w.pop_back();
                break;
            }
    }
    epoll_ctl(g_epoll, EPOLL_CTL_DEL, c->fd, nullptr);
    close(c->fd);
    g_conns.erase(c->fd);
}

uint32_t get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// One whole frame (header included) from `c`. False when the connection is to be closed.
bool on_frame(Conn& c, uint8_t* frame, size_t size) {
    uint16_t type;
    std::memcpy(&type, frame + 4, 2);
    uint8_t* payload = frame + 6;
    const size_t n = size - 6;
    if (c.user == 0) {
        if (type != kLogin || n < kLoginSize)
            return false;
        const uint32_t user = get32(payload + 8);
        if (user == 0 || g_users.count(user))
            return false;
        c.user = user;
        g_users[user] = &c;
        uint8_t reply[6 + 4] = {};
        const uint32_t length = 2 + 4;
        std::memcpy(reply, &length, 4);
        std::memcpy(reply + 4, &kLoginResult, 2);
        send_to(c, reply, sizeof reply);
        return true;
    }
    if (type == kWatch && n >= 6) {
        auto target = g_users.find(get32(payload));
        uint16_t start;
        std::memcpy(&start, payload + 4, 2);
        if (target != g_users.end() && start)
            target->second->watchers.push_back(&c);
    } else if (type == kVideo && n >= 20) {
        std::memcpy(payload, &c.user, 4);
        const uint32_t room = 1;
        std::memcpy(payload + 4, &room, 4);
        for (Conn* w : c.watchers)
            send_to(*w, frame, size);
    } else if (type == kVoice && n >= 16) {
        std::memcpy(payload, &c.user, 4);
        for (auto& [user, other] : g_users)
            if (other != &c)
                send_to(*other, frame, size);
    }
    return true;
}

// Reads what is there and handles every whole frame. False when the connection is to be closed.
bool on_readable(Conn& c) {
    const size_t have = c.in.size();
    c.in.resize(have + (64u << 10));
    const ssize_t n = recv(c.fd, c.in.data() + have, 64u << 10, 0);
    if (n <= 0) {
        c.in.resize(have);
        return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
    c.in.resize(have + size_t(n));
    for (;;) {
        const size_t left = c.in.size() - c.in_start;
        if (left < 6)
            break;
        const uint32_t length = get32(c.in.data() + c.in_start);
        if (length < 2 || length > kMaxLength)
            return false;
        if (left < 4 + size_t(length))
            break;
        if (!on_frame(c, c.in.data() + c.in_start, 4 + size_t(length)))
            return false;
        c.in_start += 4 + size_t(length);
    }
    if (c.in_start == c.in.size()) {
        c.in.clear();
        c.in_start = 0;
    } else if (c.in_start > (256u << 10)) {
        c.in.erase(c.in.begin(), c.in.begin() + long(c.in_start));
        c.in_start = 0;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fanout_relay PORT\n");
        return 2;
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(std::atoi(argv[1])));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1024) != 0) {
        std::perror("fanout_relay: listen");
        return 1;
    }
    g_epoll = epoll_create1(0);
    epoll_event lev{};
    lev.events = EPOLLIN;
    lev.data.ptr = nullptr;
    epoll_ctl(g_epoll, EPOLL_CTL_ADD, listener, &lev);
    std::vector<epoll_event> events(256);
    for (;;) {
        const int count = epoll_wait(g_epoll, events.data(), int(events.size()), -1);
        for (int i = 0; i < count; ++i) {
            Conn* c = static_cast<Conn*>(events[i].data.ptr);
            if (!c) {
                for (;;) {
                    const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
                    if (fd < 0)
                        break;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    auto conn = std::make_unique<Conn>();
                    conn->fd = fd;
                    epoll_event ev{};
                    ev.events = EPOLLIN;
                    ev.data.ptr = conn.get();
                    epoll_ctl(g_epoll, EPOLL_CTL_ADD, fd, &ev);
                    g_conns[fd] = std::move(conn);
                }
                continue;
            }
            if (events[i].events & EPOLLOUT)
                flush(*c);
            if ((events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) && !on_readable(*c))
                drop(c);
        }
    }
}
