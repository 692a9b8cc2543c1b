// Connections into rooms: each accepted socket is handed to a room backend (this process's hub or a cluster
// node), and what the backend answers is sent, one frame per payload shared by all of its receivers. Before
// its login a connection may send only a login-sized frame, and it is closed when it does not log in in time.
// Used by the room server (many connections) and by the local service's own room (one). All calls, the
// hooks' included, are made on the server's I/O thread.
#pragma once

#include <asio.hpp>

#include <memory>
#include <unordered_map>

#include "service/listener.h"
#include "service/room_backend.h"

class RoomConnections : public ClientLinks {
public:
    // What the local service sees of its client's packets (its user's speech); a room server has none.
    struct Tap {
        // A packet from the client: false when it is not for the room.
        std::function<bool(room::ConnId, uint16_t type, const uint8_t*, size_t)> from_client;
        // A packet from the room: false when it is not for the client.
        std::function<bool(room::ConnId, uint16_t type, const uint8_t*, size_t)> to_client;
    };
    struct Logs {
        LogLine log;             // the server's lines
        LogLine unauthenticated; // lines about connections that have not logged in (limited)
    };

    // Attaches itself to `backend` as its sink.
    RoomConnections(asio::io_context& io, std::shared_ptr<room::RoomBackend> backend, ConnectionLimits limits,
                    Logs logs, Tap tap = {}, GoneHook gone = {});

    room::ConnId add(asio::ip::tcp::socket socket) override;
    std::vector<WaitingConnection> waiting() const override;
    std::optional<room::ConnId> replaceable() const override;
    void evict(room::ConnId id, const std::string& why) override;
    size_t size() const override { return conns_.size(); }
    void close_all() override;
    FramedSocket* client(room::ConnId id) const override;
    void from_service(room::ConnId id, uint16_t type, const proto::Bytes& payload) override;

private:
    struct Conn {
        std::shared_ptr<FramedSocket> socket;
        std::shared_ptr<asio::steady_timer> login_timer; // until the login
    };
    void on_packet(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size);
    void deliver(const std::vector<room::Outgoing>& out);
    void arm_login_timer(room::ConnId id);
    void closed(room::ConnId id, const std::string& why);

    asio::io_context& io_;
    std::shared_ptr<room::RoomBackend> backend_;
    ConnectionLimits limits_;
    Logs logs_;
    Tap tap_;
    GoneHook gone_;
    std::unordered_map<room::ConnId, Conn> conns_; // looked up once per receiver of every packet
    room::ConnId next_id_ = 1;
};
