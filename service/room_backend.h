// What a room server's connections talk to: the rooms of this process alone (a RoomHub) or rooms shared with
// other room servers (a cluster node). The server hands every connection event to it and sends what comes
// back; a backend that also hears from elsewhere (other nodes) hands such packets to the sink it was attached
// to. Every call, the sink's included, is made on the server's I/O thread.
// A room server's connections talk to one through RoomConnections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "service/room_hub.h"

namespace room {

class RoomBackend {
public:
    using Sink = std::function<void(const std::vector<Outgoing>&)>;
    virtual ~RoomBackend() = default;
    // Called once by the server before the first connection.
    virtual void attach(Sink) {}
    virtual void on_connect(ConnId conn, uint32_t ip, uint16_t port) = 0;
    virtual std::vector<Outgoing> on_packet(ConnId conn, uint16_t type, const uint8_t* data, size_t size) = 0;
    virtual std::vector<Outgoing> on_disconnect(ConnId conn) = 0;
    virtual bool logged_in(ConnId conn) const = 0;
    // A line about a connection that has not logged in (a packet dropped, a login refused, the connection
    // closed): the server's and the backend's such lines share one limit, so that peers that reconnect in a
    // loop cannot fill the log.
    virtual void log_unauthenticated(const std::string& line) = 0;
    // A session whose seat a login elsewhere in this process took over: what tells it and closes it.
    virtual std::vector<Outgoing> push_out(ConnId) { return {}; }
};

// The rooms of this process alone.
class HubBackend : public RoomBackend {
public:
    explicit HubBackend(HubConfig config) : hub_(std::move(config)) {}
    RoomHub& hub() { return hub_; }
    void on_connect(ConnId conn, uint32_t ip, uint16_t port) override { hub_.on_connect(conn, ip, port); }
    std::vector<Outgoing> on_packet(ConnId conn, uint16_t type, const uint8_t* data, size_t size) override {
        return hub_.on_packet(conn, type, data, size);
    }
    std::vector<Outgoing> on_disconnect(ConnId conn) override { return hub_.on_disconnect(conn); }
    bool logged_in(ConnId conn) const override { return hub_.logged_in(conn); }
    void log_unauthenticated(const std::string& line) override { hub_.log_unauthenticated(line); }
    std::vector<Outgoing> push_out(ConnId conn) override { return hub_.push_out(conn); }

private:
    RoomHub hub_;
};

} // namespace room
