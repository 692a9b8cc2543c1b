// Connections into rooms: each accepted connection is handed to a room backend (this process's hub or a
// cluster node), and what the backend answers is sent, one frame per payload shared by all of its receivers.
// Used by the room server (many connections) and by the local service's own room (one). All calls, the
// tap's included, are made on the server's I/O thread.
#pragma once

#include <memory>

#include "components/framed_socket.h"
#include "service/client_links.h"
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

    // Attaches itself to `backend` as its sink.
    RoomConnections(asio::io_context& io, std::shared_ptr<room::RoomBackend> backend, ConnectionLimits limits,
                    Logs logs, Tap tap = {}, GoneHook gone = {});

    void from_service(room::ConnId id, uint16_t type, const proto::Bytes& payload) override;
    // Connection `id`'s seat was taken over by a login elsewhere in this process: it is told, and closed.
    void push_out(room::ConnId id) { deliver(backend_->push_out(id)); }

private:
    void opened(room::ConnId id, const std::shared_ptr<FramedSocket>& socket) override;
    void on_frame(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size) override;
    bool waiting_for_login(room::ConnId id) const override { return !backend_->logged_in(id); }
    bool logged_in(room::ConnId id) const override { return backend_->logged_in(id); }
    void dropped(room::ConnId id) override { deliver(backend_->on_disconnect(id)); }
    // Connection `id` logged in: it may send frames of any size, and its login has no time limit.
    void entered(room::ConnId id);
    void deliver(const std::vector<room::Outgoing>& out);
    // A control frame for `socket`, written at the end of this turn of the loop with the others.
    void queue_control(const std::shared_ptr<FramedSocket>& socket, const FramedSocket::SharedFrame& frame);

    // Connections with control packets queued in this turn of the loop; one handler at its end writes them
    // all (shared with that handler, which may run after this object is gone).
    using Pending = std::vector<std::shared_ptr<FramedSocket>>;
    std::shared_ptr<Pending> pending_ = std::make_shared<Pending>();

    std::shared_ptr<room::RoomBackend> backend_;
    Tap tap_;
};
