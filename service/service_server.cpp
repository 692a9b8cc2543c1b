// Service networking (see service_server.h).
#include "service/service_server.h"

#include <arpa/inet.h>

#include <unistd.h>

#include <cstdio>

#include "platform/process.h"

#include "components/framed_socket.h"
#include "components/log.h"
#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

void service_log(const std::string& line) {
    std::fprintf(stderr, "velmor: %s\n", line.c_str());
    if (log_enable(1, 32))
        log_write(1, 32, __LINE__, "%s\n", line.c_str());
}

ServiceServer::ServiceServer(asio::io_context& io, ServerOptions options)
    : io_(io), options_(std::move(options)), acceptor_(io), idle_timer_(io), hub_([this] {
          room::HubConfig c = options_.hub;
          if (!c.log)
              c.log = [](const std::string& s) { service_log(s); };
          return c;
      }()),
      accept_retry_(io) {}

ServiceServer::~ServiceServer() {
    stop();
}

bool ServiceServer::start() {
    std::error_code ec;
    acceptor_.open(options_.listen.protocol(), ec);
    if (!ec)
        acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor_.bind(options_.listen, ec);
    if (!ec)
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        log("cannot listen on " + options_.listen.address().to_string() + ":" +
            std::to_string(options_.listen.port()) + ": " + ec.message());
        return false;
    }
    log("listening on " + options_.listen.address().to_string() + ":" + std::to_string(port()) +
        (options_.relay_to ? " (relay to " + options_.relay_to->address().to_string() + ":" +
                                 std::to_string(options_.relay_to->port()) + ")"
                           : ""));
    if (options_.exit_if_unused_ms >= 0)
        arm_idle_timer(options_.exit_if_unused_ms);
    accept_next();
    return true;
}

uint16_t ServiceServer::port() const {
    std::error_code ec;
    return acceptor_.local_endpoint(ec).port();
}

void ServiceServer::stop() {
    std::error_code ec;
    acceptor_.close(ec);
    idle_timer_.cancel();
    for (auto& [id, c] : clients_) {
        c.socket->close();
        if (c.upstream)
            c.upstream->close();
    }
    clients_.clear();
}

void ServiceServer::log(const std::string& line) const {
    if (options_.hub.log)
        options_.hub.log(line);
    else
        service_log(line);
}

void ServiceServer::arm_idle_timer(int ms) {
    idle_timer_.expires_after(std::chrono::milliseconds(ms));
    idle_timer_.async_wait([this](std::error_code ec) {
        if (ec || !clients_.empty())
            return;
        log("no client: ending");
        stop();
        io_.stop();
    });
}

void ServiceServer::log_limited(const std::string& kind, const std::string& line) {
    const auto now = std::chrono::steady_clock::now();
    auto& last = last_logged_[kind];
    if (now - last < std::chrono::seconds(1))
        return;
    last = now;
    log(line);
}

void ServiceServer::accept_next() {
    acceptor_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) {
            // Out of descriptors (or another passing failure): say so, and wait a moment rather than spin.
            log_limited("accept", "cannot accept a connection: " + ec.message());
            accept_retry_.expires_after(std::chrono::milliseconds(100));
            accept_retry_.async_wait([this](std::error_code e) {
                if (!e)
                    accept_next();
            });
            return;
        }
        on_accepted(std::move(socket));
        accept_next();
    });
}

bool ServiceServer::accept_allowed(const asio::ip::tcp::socket& socket) {
    std::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    const auto local = socket.local_endpoint(ec);
    if (ec)
        return false;
    if (options_.own_user_only) {
        // 127.0.0.1 is every account's: only this user's programs may act as this user.
        const auto owner = tcp_peer_owner(remote.address().to_v4().to_uint(), remote.port(),
                                          local.address().to_v4().to_uint(), local.port());
        if (!owner || *owner != getuid()) {
            log_limited("foreign", "refused a connection of another user (uid " +
                                       (owner ? std::to_string(*owner) : std::string("unknown")) + ")");
            return false;
        }
    }
    size_t waiting = 0, from_there = 0;
    for (const auto& [id, c] : clients_) {
        if (hub_.logged_in(id) || c.login_seen)
            continue;
        ++waiting;
        if (c.socket->remote_endpoint().address() == remote.address())
            ++from_there;
    }
    if (waiting >= options_.max_unauthenticated || from_there >= options_.max_unauthenticated_per_address) {
        log_limited("crowd", "refused a connection: " + std::to_string(waiting) + " not logged in yet (" +
                                 std::to_string(from_there) + " from " + remote.address().to_string() + ")");
        return false;
    }
    return true;
}

void ServiceServer::on_accepted(asio::ip::tcp::socket socket) {
    if (!accept_allowed(socket)) {
        std::error_code ec;
        socket.close(ec);
        return;
    }
    if (clients_.size() >= options_.max_clients) {
        log("refused a second client while one is served");
        std::error_code ec;
        socket.close(ec);
        return;
    }
    idle_timer_.cancel();
    const room::ConnId id = next_id_++;
    clients_[id].socket = std::make_shared<FramedSocket>(std::move(socket), options_.send_cap);
    if (options_.relay_to)
        start_relay_client(id);
    else
        start_hub_client(id);
}

void ServiceServer::start_hub_client(room::ConnId id) {
    auto& socket = clients_[id].socket;
    auto remote = socket->remote_endpoint();
    uint32_t ip = remote.address().is_v4() ? htonl(remote.address().to_v4().to_uint()) : 0;
    hub_.on_connect(id, ip, remote.port());
    // Before the login only a frame of the login's size is taken: nobody can make the server buffer a
    // megabyte without having logged in.
    socket->set_max_frame(uint32_t(2 + proto::Login::kSize));
    std::weak_ptr<FramedSocket> weak = socket;
    socket->start(
        [this, id, weak](uint16_t type, const uint8_t* p, uint32_t n) {
            const bool was_in = hub_.logged_in(id);
            deliver(hub_.on_packet(id, type, p, n));
            if (!was_in && hub_.logged_in(id))
                if (auto s = weak.lock())
                    s->set_max_frame(framing::kMaxLength);
        },
        [this, id](const std::string& why) { closed(id, why); });
    arm_login_timer(id);
}

void ServiceServer::arm_login_timer(room::ConnId id) {
    if (options_.login_timeout_ms < 0)
        return;
    auto timer =
        std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(options_.login_timeout_ms));
    clients_[id].login_timer = timer;
    timer->async_wait([this, id](std::error_code ec) {
        if (ec || hub_.logged_in(id))
            return;
        // A connection that never logs in (a port scan, a stalled or foreign client) does not keep its place.
        auto c = clients_.find(id);
        if (c == clients_.end())
            return;
        log("connection " + std::to_string(id) + " closed: no login in time");
        c->second.socket->close();
        clients_.erase(c);
        deliver(hub_.on_disconnect(id));
        if (clients_.empty() && options_.exit_when_idle_ms >= 0)
            arm_idle_timer(options_.exit_when_idle_ms);
    });
}

void ServiceServer::start_relay_client(room::ConnId id) {
    asio::ip::tcp::socket up(io_);
    std::error_code ec;
    up.connect(*options_.relay_to, ec);
    if (ec) {
        // Answer the login with a failure the client shows, rather than dropping the link (which the client
        // would take as lost and reconnect to, again and again).
        log("cannot reach the room server: " + ec.message());
        std::weak_ptr<FramedSocket> down = clients_[id].socket;
        clients_[id].socket->start(
            [down](uint16_t type, const uint8_t*, uint32_t) {
                auto d = down.lock();
                if (d && type == pkt::kLogin) {
                    proto::LoginResult r;
                    r.result = room::kLoginNoRoomServer;
                    d->send_frame(framing::make_frame(pkt::kLoginResult, r.encode()), false);
                }
            },
            [this, id](const std::string& why) { closed(id, why); });
        return;
    }
    Client& c = clients_[id];
    c.upstream = std::make_shared<FramedSocket>(std::move(up), options_.send_cap);
    std::weak_ptr<FramedSocket> down = c.socket, upstream = c.upstream;
    c.socket->start(
        [upstream](uint16_t type, const uint8_t* p, uint32_t n) {
            if (auto u = upstream.lock())
                u->send_frame(framing::make_frame(type, p, n), type == pkt::kVideoFrame);
        },
        [this, id](const std::string& why) { closed(id, why); });
    c.upstream->start(
        [down](uint16_t type, const uint8_t* p, uint32_t n) {
            if (auto d = down.lock())
                d->send_frame(framing::make_frame(type, p, n), type == pkt::kVideoFrame);
        },
        [this, id](const std::string& why) { closed(id, "room server: " + why); });
}

void ServiceServer::deliver(const std::vector<room::Outgoing>& out) {
    for (const room::Outgoing& o : out) {
        auto c = clients_.find(o.to);
        if (c == clients_.end())
            continue;
        if (o.close) {
            room::ConnId gone = o.to;
            c->second.socket->close();
            clients_.erase(c);
            hub_.on_disconnect(gone);
            continue;
        }
        c->second.socket->send_frame(framing::make_frame(o.type, o.payload), o.type == pkt::kVideoFrame);
    }
}

void ServiceServer::closed(room::ConnId id, const std::string& why) {
    auto c = clients_.find(id);
    if (c == clients_.end())
        return;
    log("connection " + std::to_string(id) + " closed: " + why);
    if (c->second.login_timer)
        c->second.login_timer->cancel();
    c->second.socket->close();
    if (c->second.upstream)
        c->second.upstream->close();
    clients_.erase(c);
    if (!options_.relay_to)
        deliver(hub_.on_disconnect(id));
    if (clients_.empty() && options_.exit_when_idle_ms >= 0)
        arm_idle_timer(options_.exit_when_idle_ms);
}
