// A test participant: a blocking framed connection to a service or room server on loopback, sending packets
// and waiting for the ones it expects.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "wire/framing.h"

struct Packet {
    uint16_t type;
    std::vector<uint8_t> payload;
};

class RoomPeer {
public:
    RoomPeer() = default;
    ~RoomPeer();
    RoomPeer(const RoomPeer&) = delete;
    RoomPeer& operator=(const RoomPeer&) = delete;

    // Connects to 127.0.0.1:port, trying again while refused, up to `timeout_ms`.
    bool connect(uint16_t port, int timeout_ms = 5000);
    // Before connect: the local address to connect from (another 127.x.y.z), and a small receive buffer
    // (bytes; 0 the system's).
    void set_local_address(const std::string& ip) { local_address_ = ip; }
    void set_receive_buffer(int bytes) { receive_buffer_ = bytes; }
    int fd() const { return fd_; }
    bool send(uint16_t type, const std::vector<uint8_t>& payload = {});
    bool send_raw(const std::vector<uint8_t>& bytes);

    // The next packet of `type` (earlier packets of other types are kept for later), or nothing on time-out.
    std::optional<Packet> wait_for(uint16_t type, int timeout_ms = 3000);
    // The next packet of any type.
    std::optional<Packet> next(int timeout_ms = 3000);
    // Every packet that arrives within `ms`.
    std::vector<Packet> drain(int ms);
    // True when the other side closed within `timeout_ms`.
    bool wait_closed(int timeout_ms = 3000);
    // The bytes the system holds for this peer that it has not read yet.
    size_t unread_bytes() const;
    void close();

private:
    bool read_some(int timeout_ms);
    int fd_ = -1;
    bool closed_ = false;
    std::string local_address_;
    int receive_buffer_ = 0;
    framing::Decoder decoder_;
    std::deque<Packet> inbox_;
};

// A session's token, which the room sends after a login and a reconnect shows to take the seat over.
using SessionTokenBytes = std::array<uint8_t, 16>;

// Logs a participant into a room: sends the login (with a session's token, when given) and waits for the
// result. The result code, or -1; with `token_out`, the token the room sends after a result 0 is read into it
// (-2 when none comes).
int login_peer(RoomPeer& peer, uint32_t user, uint32_t room, uint32_t flags = 0,
               std::optional<SessionTokenBytes> token = std::nullopt, SessionTokenBytes* token_out = nullptr);

// A loopback port held for the test's lifetime: bound with SO_REUSEADDR but not listening. Connections to it
// are refused, no other program can bind it meanwhile, and a server that sets SO_REUSEADDR too (velmor's
// listeners, nats-server, redis-server) can still listen on it, and again after a restart. For a port that
// must be known before its server starts (a server that comes later or is restarted, servers named on each
// other's command lines) or one where nothing listens. A server the test starts itself listens on port 0
// and reports its port instead.
class ReservedPort {
public:
    ReservedPort();
    ~ReservedPort();
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;
    // 0 when no port could be bound.
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A socket listening on a free loopback port (close-on-exec); the port goes to `port`.
int listen_on_loopback(uint16_t* port);

// Waits until something accepts TCP connections on the loopback port; false after `timeout_ms`.
bool wait_until_listening(uint16_t port, int timeout_ms = 5000);
