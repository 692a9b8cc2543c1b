// Connections into rooms (see room_connections.h).
#include "service/room_connections.h"

#include <arpa/inet.h>

#include "components/framed_socket.h"
#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

// Video and voice may be dropped for a receiver that falls behind (voice never waits behind video);
// everything else is a control packet that is not.
FramedSocket::Lane lane_of(uint16_t type) {
    if (type == pkt::kVideoFrame)
        return FramedSocket::Lane::Video;
    if (type == pkt::kVoice)
        return FramedSocket::Lane::Voice;
    return FramedSocket::Lane::Control;
}

} // namespace

RoomConnections::RoomConnections(asio::io_context& io, std::shared_ptr<room::RoomBackend> backend,
                                 ConnectionLimits limits, Logs logs, Tap tap, GoneHook gone)
    : ClientLinks(io, limits, std::move(logs), std::move(gone)), backend_(std::move(backend)),
      tap_(std::move(tap)) {
    backend_->attach([this](const std::vector<room::Outgoing>& out) { deliver(out); });
}

void RoomConnections::opened(room::ConnId id, const std::shared_ptr<FramedSocket>& socket) {
    auto remote = socket->remote_endpoint();
    uint32_t ip = remote.address().is_v4() ? htonl(remote.address().to_v4().to_uint()) : 0;
    backend_->on_connect(id, ip, remote.port());
}

void RoomConnections::on_frame(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size) {
    // Keeping the link alive is the connection's business, not the room's (a server without a link time-out
    // passes it on, as any type it does not know).
    if (type == pkt::kKeepAlive && limits_.link_timeout_ms > 0) {
        keepalive_heard(id, data, size);
        return;
    }
    if (type == pkt::kLogin && limits_.link_timeout_ms > 0)
        if (Link* l = link(id)) {
            const auto login = proto::Login::decode(data, size);
            l->asked_keepalive = login && (login->flags & proto::Login::kKeepAliveFlag) != 0;
        }
    if (tap_.from_client && !tap_.from_client(id, type, data, size))
        return;
    // Once in, the room is not asked after each packet whether the connection came in with it.
    const Link* l = link(id);
    const bool was_in = l && l->entered;
    deliver(backend_->on_packet(id, type, data, size));
    if (!was_in && backend_->logged_in(id))
        entered(id);
}

void RoomConnections::entered(room::ConnId id) {
    if (Link* l = link(id); l && !l->entered) {
        l->entered = true;
        l->socket->set_max_frame(framing::kMaxLength);
        end_login_timer(id);
        keep_alive(id);
    }
}

void RoomConnections::from_service(room::ConnId id, uint16_t type, const proto::Bytes& payload) {
    static const uint8_t kNothing[1] = {0}; // an empty payload still points somewhere
    if (link(id))
        deliver(backend_->on_packet(id, type, payload.empty() ? kNothing : payload.data(), payload.size()));
}

void RoomConnections::deliver(const std::vector<room::Outgoing>& out) {
    // One frame per payload, shared by all of its receivers.
    const void* last_payload = nullptr;
    uint16_t last_type = 0;
    FramedSocket::SharedFrame frame;
    for (const room::Outgoing& o : out) {
        Link* l = link(o.to);
        if (!l)
            continue;
        if (o.close) {
            // What the room said to it last (why it is sent away) still goes out first.
            send_away(o.to);
            backend_->on_disconnect(o.to);
            continue;
        }
        if (tap_.to_client && !tap_.to_client(o.to, o.type, o.payload.data(), o.payload.size()))
            continue;
        // Logged in (also when answered later): what comes with that goes after the result.
        const bool logs_in = o.type == pkt::kLoginResult && o.payload.size() >= 4 &&
                             o.payload.data()[0] == 0 && o.payload.data()[1] == 0 &&
                             o.payload.data()[2] == 0 && o.payload.data()[3] == 0;
        if (!frame || o.payload.identity() != last_payload || o.type != last_type || !last_payload) {
            frame = o.payload.frame(o.type);
            if (!frame)
                frame = std::make_shared<const std::vector<uint8_t>>(
                    framing::make_frame(o.type, o.payload.data(), o.payload.size()));
            last_payload = o.payload.identity();
            last_type = o.type;
        }
        // Control packets go out at the end of the loop's turn: a class arriving together (a login each,
        // each announced to everybody) then costs one write per receiver and turn, not one per packet, and
        // one handler writes for every receiver of the turn.
        const FramedSocket::Lane lane = lane_of(o.type);
        if (lane != FramedSocket::Lane::Control)
            l->socket->send_shared(frame, lane);
        else
            queue_control(l->socket, frame);
        if (logs_in)
            entered(o.to);
    }
}

void RoomConnections::queue_control(const std::shared_ptr<FramedSocket>& socket,
                                    const FramedSocket::SharedFrame& frame) {
    bool start_writer = false;
    if (!socket->queue_shared(frame, FramedSocket::Lane::Control, &start_writer) || !start_writer)
        return;
    if (pending_->empty())
        asio::post(io_, [pending = pending_] {
            Pending now;
            now.swap(*pending);
            for (const auto& s : now)
                s->write_queued();
        });
    pending_->push_back(socket);
}
