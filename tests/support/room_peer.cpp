// Test participant (see room_peer.h).
#include "room_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "wire/protocol.h"

namespace {
using clock_type = std::chrono::steady_clock;
int remaining_ms(clock_type::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
    return left > 0 ? int(left) : 0;
}
} // namespace

RoomPeer::~RoomPeer() {
    close();
}

void RoomPeer::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool RoomPeer::connect(uint16_t port, int timeout_ms) {
    // A peer may connect again after its link closed: nothing of the earlier link is kept.
    close();
    closed_ = false;
    decoder_ = framing::Decoder();
    inbox_.clear();
    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receive_buffer_ > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer_, sizeof receive_buffer_);
        if (!local_address_.empty()) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            inet_pton(AF_INET, local_address_.c_str(), &local.sin_addr);
            if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
                close();
                return false;
            }
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int one = 1;
            setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return true;
        }
        close();
        if (remaining_ms(deadline) == 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool RoomPeer::send_raw(const std::vector<uint8_t>& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += size_t(n);
    }
    return true;
}

bool RoomPeer::send(uint16_t type, const std::vector<uint8_t>& payload) {
    return send_raw(framing::make_frame(type, payload));
}

bool RoomPeer::read_some(int timeout_ms) {
    if (fd_ < 0 || closed_)
        return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
        return false;
    uint8_t buf[65536];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    decoder_.feed(buf, size_t(n), [this](uint16_t type, const uint8_t* data, uint32_t size) {
        inbox_.push_back({type, std::vector<uint8_t>(data, data + size)});
    });
    return true;
}

std::optional<Packet> RoomPeer::wait_for(uint16_t type, int timeout_ms) {
    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        for (auto it = inbox_.begin(); it != inbox_.end(); ++it) {
            if (it->type == type) {
                Packet p = std::move(*it);
                inbox_.erase(it);
                return p;
            }
        }
        if (!read_some(remaining_ms(deadline)) && (closed_ || remaining_ms(deadline) == 0))
            return std::nullopt;
    }
}

std::optional<Packet> RoomPeer::next(int timeout_ms) {
    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (inbox_.empty()) {
        if (!read_some(remaining_ms(deadline)) && (closed_ || remaining_ms(deadline) == 0))
            return std::nullopt;
    }
    Packet p = std::move(inbox_.front());
    inbox_.pop_front();
    return p;
}

std::vector<Packet> RoomPeer::drain(int ms) {
    const auto deadline = clock_type::now() + std::chrono::milliseconds(ms);
    while (remaining_ms(deadline) > 0 && !closed_)
        read_some(remaining_ms(deadline));
    std::vector<Packet> out(inbox_.begin(), inbox_.end());
    inbox_.clear();
    return out;
}

size_t RoomPeer::unread_bytes() const {
    int n = 0;
    return fd_ >= 0 && ioctl(fd_, FIONREAD, &n) == 0 && n > 0 ? size_t(n) : 0;
}

bool RoomPeer::wait_closed(int timeout_ms) {
    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (!closed_ && remaining_ms(deadline) > 0)
        read_some(remaining_ms(deadline));
    return closed_;
}

int login_peer(RoomPeer& peer, uint32_t user, uint32_t room, uint32_t flags,
               std::optional<SessionTokenBytes> token, SessionTokenBytes* token_out) {
    proto::Login l;
    l.user_id = user;
    l.room_id = room;
    l.flags = flags;
    l.token = token;
    if (!peer.send(pkt::kLogin, l.encode()))
        return -1;
    // A node of a cluster asks its store first.
    auto r = peer.wait_for(pkt::kLoginResult, 5000);
    if (!r)
        return -1;
    auto decoded = proto::LoginResult::decode(r->payload.data(), r->payload.size());
    if (!decoded)
        return -1;
    const int result = int(decoded->result);
    if (result == 0 && token_out) {
        auto t = peer.wait_for(pkt::kSessionToken, 3000);
        auto sent = t ? proto::SessionToken::decode(t->payload.data(), t->payload.size()) : std::nullopt;
        if (!sent)
            return -2;
        *token_out = sent->token;
    }
    return result;
}

ReservedPort::ReservedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port_ = ntohs(a.sin_port);
}

ReservedPort::~ReservedPort() {
    if (fd_ >= 0)
        ::close(fd_);
}

int listen_on_loopback(uint16_t* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, 8);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

bool wait_until_listening(uint16_t port, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}
