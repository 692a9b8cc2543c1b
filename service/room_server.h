// The room server: many connections from local services and peers into rooms, this process's own or (with a
// backend) rooms shared with other room servers. All calls are made on the one I/O thread.
#pragma once

#include <asio.hpp>

#include <memory>

#include "service/listener.h"
#include "service/room_backend.h"
#include "service/room_connections.h"

struct RoomServerOptions {
    asio::ip::tcp::endpoint listen;
    ConnectionLimits limits;
    // The rooms of this process (logs also go to `hub.log` when set).
    room::HubConfig hub;
    // Where the connections go instead of this process's own rooms (a cluster node); the server attaches
    // itself to it at construction.
    std::shared_ptr<room::RoomBackend> backend;
};

class RoomServer {
public:
    RoomServer(asio::io_context& io, RoomServerOptions options);
    ~RoomServer();

    // Binds and starts accepting. False (with a log line) when the address cannot be used.
    bool start();
    uint16_t port() const { return listener_.port(); }
    void stop();

private:
    void on_accepted(asio::ip::tcp::socket socket);
    void log(const std::string& line) const;
    void log_unauthenticated(const std::string& line);

    RoomServerOptions options_;
    Listener listener_;
    std::shared_ptr<room::HubBackend> hub_; // the own rooms, without a backend
    UnauthenticatedLog unauthenticated_;    // with a backend
    RoomConnections connections_;
};
