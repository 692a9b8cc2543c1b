// What the room server and the local service share about taking connections: the listening socket and its
// accept loop, and the limits on connections that have not logged in yet. Everything here runs on the
// server's one I/O thread.
#pragma once

#include <asio.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "service/room_hub.h"
#include "service/service_log.h"

// Limits every connection of a server keeps to.
struct ConnectionLimits {
    // Bytes queued for a receiver before its video and voice are dropped.
    size_t send_cap = 4u << 20;
    // A connection that has not logged in this long after it was made is closed; negative: never. A login is
    // one small frame, sent at once.
    int login_timeout_ms = 5000;
    // Connections that have not logged in yet, in all and from one address. When a new one would pass either
    // cap, the oldest waiting one (from that address, or of all) is closed for it: squatters cannot lock
    // real users out.
    size_t max_unauthenticated = 512;
    size_t max_unauthenticated_per_address = 32;
    // A connection whose peer has gone silent this long is closed: the kernel probes every connection for a
    // dead path, and a peer that keeps its link alive (a local service, docs/LINKS.md) must be heard at
    // least this often. 0 or negative: never (a connection lives until its peer closes it).
    int link_timeout_ms = -1;
};

// A connection that has not logged in yet.
struct WaitingConnection {
    room::ConnId id = 0;
    asio::ip::address address;
};

// The waiting connection to close for a newcomer from `from`, and why (for the log); none while both caps
// have room. Ids grow with time: the smallest waiting one is the oldest.
struct Eviction {
    room::ConnId id = 0;
    std::string why;
};
std::optional<Eviction> eviction_for(const std::vector<WaitingConnection>& waiting,
                                     const asio::ip::address& from, const ConnectionLimits& limits);

// The listening socket and its accept loop.
class Listener {
public:
    using Accepted = std::function<void(asio::ip::tcp::socket)>;
    Listener(asio::io_context& io, LogLine log);

    // Binds and starts accepting; `note` ends the log line that says where. False (with a log line) when the
    // address cannot be used.
    bool start(const asio::ip::tcp::endpoint& at, const std::string& note, Accepted accepted);
    uint16_t port() const;
    void close();

private:
    void accept_next();

    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retry_;
    LogLine log_;
    KindLimiter limiter_;
    Accepted accepted_;
};
