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
    : io_(io), backend_(std::move(backend)), limits_(limits), logs_(std::move(logs)), tap_(std::move(tap)),
      gone_(std::move(gone)) {
    backend_->attach([this](const std::vector<room::Outgoing>& out) { deliver(out); });
}

room::ConnId RoomConnections::add(asio::ip::tcp::socket socket) {
    const room::ConnId id = next_id_++;
    auto framed = std::make_shared<FramedSocket>(std::move(socket), limits_.send_cap);
    conns_[id].socket = framed;
    auto remote = framed->remote_endpoint();
    uint32_t ip = remote.address().is_v4() ? htonl(remote.address().to_v4().to_uint()) : 0;
    backend_->on_connect(id, ip, remote.port());
    // Before the login only a frame of the login's size is taken: nobody can make the server buffer a
    // megabyte without having logged in.
    framed->set_max_frame(uint32_t(2 + proto::Login::kSizeWithToken));
    framed->start([this, id](uint16_t type, const uint8_t* p, uint32_t n) { on_packet(id, type, p, n); },
                  [this, id](const std::string& why) { closed(id, why); });
    arm_login_timer(id);
    return id;
}

void RoomConnections::on_packet(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size) {
    if (tap_.from_client && !tap_.from_client(id, type, data, size))
        return;
    const bool was_in = backend_->logged_in(id);
    deliver(backend_->on_packet(id, type, data, size));
    if (!was_in && backend_->logged_in(id))
        if (auto c = conns_.find(id); c != conns_.end())
            c->second.socket->set_max_frame(framing::kMaxLength);
}

std::vector<WaitingConnection> RoomConnections::waiting() const {
    std::vector<WaitingConnection> out;
    for (const auto& [id, c] : conns_)
        if (!backend_->logged_in(id))
            out.push_back({id, c.socket->remote_endpoint().address()});
    return out;
}

std::optional<room::ConnId> RoomConnections::replaceable() const {
    for (const auto& [id, c] : conns_)
        if (!backend_->logged_in(id))
            return id;
    return std::nullopt;
}

void RoomConnections::evict(room::ConnId id, const std::string& why) {
    auto c = conns_.find(id);
    if (c == conns_.end())
        return;
    logs_.unauthenticated("connection " + std::to_string(id) + " closed for a newer one: " + why);
    c->second.socket->close();
    if (c->second.login_timer)
        c->second.login_timer->cancel();
    conns_.erase(c);
    deliver(backend_->on_disconnect(id));
    if (gone_)
        gone_(id, Gone::Evicted);
}

void RoomConnections::close_all() {
    for (auto& [id, c] : conns_)
        c.socket->close();
    conns_.clear();
}

FramedSocket* RoomConnections::client(room::ConnId id) const {
    auto c = conns_.find(id);
    return c == conns_.end() ? nullptr : c->second.socket.get();
}

void RoomConnections::from_service(room::ConnId id, uint16_t type, const proto::Bytes& payload) {
    static const uint8_t kNothing[1] = {0}; // an empty payload still points somewhere
    if (conns_.count(id))
        deliver(backend_->on_packet(id, type, payload.empty() ? kNothing : payload.data(), payload.size()));
}

void RoomConnections::arm_login_timer(room::ConnId id) {
    if (limits_.login_timeout_ms < 0)
        return;
    auto timer =
        std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(limits_.login_timeout_ms));
    conns_[id].login_timer = timer;
    timer->async_wait([this, id](std::error_code ec) {
        if (ec || backend_->logged_in(id))
            return;
        // A connection that never logs in (a port scan, a stalled or foreign client) does not keep its place.
        auto c = conns_.find(id);
        if (c == conns_.end())
            return;
        logs_.unauthenticated("connection " + std::to_string(id) + " closed: no login in time");
        c->second.socket->close();
        conns_.erase(c);
        deliver(backend_->on_disconnect(id));
        if (gone_)
            gone_(id, Gone::Closed);
    });
}

void RoomConnections::deliver(const std::vector<room::Outgoing>& out) {
    // One frame per payload, shared by all of its receivers.
    const void* last_payload = nullptr;
    uint16_t last_type = 0;
    FramedSocket::SharedFrame frame;
    for (const room::Outgoing& o : out) {
        auto c = conns_.find(o.to);
        if (c == conns_.end())
            continue;
        if (o.close) {
            // What the room said to it last (why it is sent away) still goes out first.
            room::ConnId gone = o.to;
            c->second.socket->close_after_sending();
            conns_.erase(c);
            backend_->on_disconnect(gone);
            if (gone_)
                gone_(gone, Gone::SentAway);
            continue;
        }
        if (tap_.to_client && !tap_.to_client(o.to, o.type, o.payload.data(), o.payload.size()))
            continue;
        if (o.type == pkt::kLoginResult && o.payload.size() >= 4 && o.payload.data()[0] == 0 &&
            o.payload.data()[1] == 0 && o.payload.data()[2] == 0 && o.payload.data()[3] == 0)
            c->second.socket->set_max_frame(framing::kMaxLength); // logged in (also when answered later)
        if (!frame || o.payload.identity() != last_payload || o.type != last_type || !last_payload) {
            frame = std::make_shared<const std::vector<uint8_t>>(
                framing::make_frame(o.type, o.payload.data(), o.payload.size()));
            last_payload = o.payload.identity();
            last_type = o.type;
        }
        c->second.socket->send_shared(frame, lane_of(o.type));
    }
}

void RoomConnections::closed(room::ConnId id, const std::string& why) {
    auto c = conns_.find(id);
    if (c == conns_.end())
        return;
    const std::string line = "connection " + std::to_string(id) + " closed: " + why;
    if (backend_->logged_in(id))
        logs_.log(line);
    else
        logs_.unauthenticated(line);
    if (c->second.login_timer)
        c->second.login_timer->cancel();
    c->second.socket->close_after_sending();
    conns_.erase(c);
    deliver(backend_->on_disconnect(id));
    if (gone_)
        gone_(id, Gone::Closed);
}
