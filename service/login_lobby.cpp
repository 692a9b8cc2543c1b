// Connections before their login (see login_lobby.h).
#include "service/login_lobby.h"

#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

LoginLobby::LoginLobby(asio::io_context& io, ConnectionLimits limits, LogLine unauthenticated,
                       Handover handover)
    : io_(io), limits_(limits), unauthenticated_(std::move(unauthenticated)), handover_(std::move(handover)) {
}

LoginLobby::~LoginLobby() {
    close_all();
}

void LoginLobby::add(asio::ip::tcp::socket socket) {
    std::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    if (ec) {
        socket.close(ec);
        return;
    }
    std::vector<WaitingConnection> waiting;
    waiting.reserve(waiting_.size());
    for (const auto& [id, w] : waiting_)
        waiting.push_back({id, w.remote.address()});
    if (auto e = eviction_for(waiting, remote.address(), limits_))
        close(e->id, "closed for a newer one: " + e->why);

    const uint64_t id = next_id_++;
    Waiting& w = waiting_[id];
    w.socket = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
    w.remote = remote;
    if (limits_.login_timeout_ms >= 0) {
        w.timer =
            std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(limits_.login_timeout_ms));
        w.timer->async_wait([this, id](std::error_code e) {
            if (!e)
                close(id, "closed: no login in time");
        });
    }
    read_header(id);
}

void LoginLobby::read_header(uint64_t id) {
    Waiting& w = waiting_.at(id);
    // The socket lives as long as a read on it; a lobby that closed it is not touched again.
    asio::async_read(*w.socket, asio::buffer(w.header), [this, id, s = w.socket](std::error_code ec, size_t) {
        Waiting* waiting = after_read(id, ec);
        if (!waiting)
            return;
        const auto& h = waiting->header;
        const uint32_t length =
            uint32_t(h[0]) | uint32_t(h[1]) << 8 | uint32_t(h[2]) << 16 | uint32_t(h[3]) << 24;
        const uint16_t type = uint16_t(h[4] | h[5] << 8);
        // Only a login, and only as large as a login can be: nobody makes the server buffer more than that
        // without having logged in.
        if (length < 2 || length > 2 + proto::Login::kSizeWithToken) {
            close(id, "closed: framing error");
            return;
        }
        if (type != pkt::kLogin) {
            close(id, "closed: type " + std::to_string(type) + " before login");
            return;
        }
        waiting->payload.resize(length - 2);
        read_payload(id);
    });
}

LoginLobby::Waiting* LoginLobby::after_read(uint64_t id, std::error_code ec) {
    if (ec == asio::error::operation_aborted)
        return nullptr;
    auto it = waiting_.find(id);
    if (it == waiting_.end())
        return nullptr;
    if (ec) {
        close(id, "closed: " + (ec == asio::error::eof ? std::string("closed by peer") : ec.message()));
        return nullptr;
    }
    return &it->second;
}

void LoginLobby::read_payload(uint64_t id) {
    Waiting& w = waiting_.at(id);
    asio::async_read(*w.socket, asio::buffer(w.payload),
                     [this, id, s = w.socket](std::error_code ec, size_t) {
                         Waiting* waiting = after_read(id, ec);
                         if (!waiting)
                             return;
                         Waiting& w = *waiting;
                         auto login = proto::Login::decode(w.payload.data(), w.payload.size());
                         if (!login) {
                             close(id, "closed: short login");
                             return;
                         }
                         Arrival a;
                         a.remote = w.remote;
                         a.type = pkt::kLogin;
                         a.payload = std::move(w.payload);
                         a.room = login->room_id;
                         if (w.timer)
                             w.timer->cancel();
                         std::error_code e;
                         a.fd = w.socket->release(e);
                         const auto socket = w.socket;
                         waiting_.erase(id);
                         if (e) {
                             std::error_code ignored;
                             socket->close(ignored);
                             unauthenticated_("connection from " + a.remote.address().to_string() +
                                              " lost at its login: " + e.message());
                             return;
                         }
                         handover_(std::move(a));
                     });
}

void LoginLobby::close(uint64_t id, const std::string& why) {
    auto it = waiting_.find(id);
    if (it == waiting_.end())
        return;
    unauthenticated_("connection from " + it->second.remote.address().to_string() + " " + why);
    std::error_code ec;
    it->second.socket->close(ec);
    if (it->second.timer)
        it->second.timer->cancel();
    waiting_.erase(it);
}

void LoginLobby::close_all() {
    for (auto& [id, w] : waiting_) {
        std::error_code ec;
        w.socket->close(ec);
        if (w.timer)
            w.timer->cancel();
    }
    waiting_.clear();
}
