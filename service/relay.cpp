// The local service's relay to a room server (see relay.h).
#include "service/relay.h"

#include "components/framed_socket.h"
#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

Relay::Relay(asio::io_context& io, Options options, Logs logs, RoomConnections::Tap tap, GoneHook gone)
    : ClientLinks(io, options.limits, std::move(logs), std::move(gone)), options_(std::move(options)),
      tap_(std::move(tap)) {}

void Relay::opened(room::ConnId id, const std::shared_ptr<FramedSocket>& socket) {
    clients_[id].socket = socket;
}

void Relay::on_frame(room::ConnId id, uint16_t type, const uint8_t* p, uint32_t n) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client& me = it->second;
    // Speech comes from the service's own capture and keepalives from the service, never from its client.
    if (type == pkt::kVoice || type == pkt::kKeepAlive)
        return;
    if (tap_.from_client && !tap_.from_client(id, type, p, n))
        return;
    if (type == pkt::kSpeakerVolume)
        return; // the service's own playback: nothing for the room server
    if (me.upstream && me.upstream->is_open()) {
        me.upstream->send_frame(to_upstream(me, type, p, n), type == pkt::kVideoFrame);
        return;
    }
    // No room server yet: the login starts the way there (again, after a failure); what follows it
    // waits, within reason.
    if (type == pkt::kLogin) {
        me.login_seen = true;
        me.sent_a_login = true;
        me.pending.clear();
    }
    if (!me.login_seen || me.pending.size() >= 64)
        return;
    me.pending.push_back(to_upstream(me, type, p, n));
    me.socket->set_max_frame(framing::kMaxLength);
    if (type == pkt::kLogin && !me.connecting)
        connect_upstream(id);
}

bool Relay::waiting_for_login(room::ConnId id) const {
    auto c = clients_.find(id);
    return c != clients_.end() && !c->second.login_seen && !c->second.sent_a_login && !c->second.upstream;
}

bool Relay::may_give_way(room::ConnId id) const {
    auto c = clients_.find(id);
    return c != clients_.end() && !c->second.login_seen && !c->second.upstream;
}

bool Relay::logged_in(room::ConnId id) const {
    auto c = clients_.find(id);
    return c != clients_.end() && c->second.login_seen;
}

void Relay::dropped(room::ConnId id) {
    auto c = clients_.find(id);
    if (c == clients_.end())
        return;
    if (c->second.upstream)
        c->second.upstream->close();
    clients_.erase(c);
}

void Relay::dropped_all() {
    for (auto& [id, c] : clients_)
        if (c.upstream)
            c.upstream->close();
    clients_.clear();
}

void Relay::from_service(room::ConnId id, uint16_t type, const proto::Bytes& payload) {
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->second.upstream || !it->second.upstream->is_open())
        return;
    if (type == pkt::kVoice)
        it->second.upstream->send_shared(
            std::make_shared<const std::vector<uint8_t>>(framing::make_frame(type, payload)),
            FramedSocket::Lane::Voice);
    else
        it->second.upstream->send_frame(framing::make_frame(type, payload.data(), payload.size()), false);
}

std::shared_ptr<FramedSocket> Relay::room_link(room::ConnId id) const {
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->second.upstream || !it->second.upstream->is_open())
        return nullptr;
    return it->second.upstream;
}

void Relay::connect_upstream(room::ConnId id) {
    Client& c = clients_[id];
    const Upstream& up = upstream_at(upstream_next_);
    c.connecting = true;
    auto resolver = std::make_shared<asio::ip::tcp::resolver>(io_);
    auto socket = std::make_shared<asio::ip::tcp::socket>(io_);
    auto timer =
        std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(options_.connect_timeout_ms));
    auto done = std::make_shared<bool>(false);
    // A silent or unreachable room server costs the login at most the time limit, never the service's thread.
    timer->async_wait([this, id, resolver, socket, done](std::error_code ec) {
        if (ec || *done)
            return;
        *done = true;
        resolver->cancel();
        std::error_code ignored;
        socket->close(ignored);
        upstream_failed(id, "no answer in time");
    });
    auto connected = [this, id, socket, timer, done](std::error_code e, const asio::ip::tcp::endpoint&) {
        if (*done)
            return;
        *done = true;
        timer->cancel();
        if (e)
            upstream_failed(id, e.message());
        else
            upstream_ready(id, std::move(*socket));
    };
    resolver->async_resolve(up.host, std::to_string(up.port),
                            [this, id, resolver, socket, timer, done,
                             connected](std::error_code ec, asio::ip::tcp::resolver::results_type results) {
                                if (*done)
                                    return;
                                if (ec) {
                                    *done = true;
                                    timer->cancel();
                                    upstream_failed(id, ec.message());
                                    return;
                                }
                                asio::async_connect(*socket, results, connected);
                            });
}

void Relay::upstream_failed(room::ConnId id, const std::string& why) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client& c = it->second;
    c.connecting = false;
    if (limiter_.allow("upstream"))
        logs_.log("cannot reach the room server " + upstream_at(upstream_next_).host + ":" +
                  std::to_string(upstream_at(upstream_next_).port) + ": " + why);
    next_upstream();
    if (++c.upstream_tries < options_.room_servers.size()) {
        connect_upstream(id); // the next room server of the list, with the login still waiting
        return;
    }
    c.upstream_tries = 0;
    c.login_seen = false;
    c.pending.clear();
    // The login is answered with a failure the client retries by itself, rather than a dropped link.
    proto::LoginResult r;
    r.result = room::kLoginNoRoomServer;
    c.socket->send_frame(framing::make_frame(pkt::kLoginResult, r.encode()), false);
}

void Relay::upstream_ready(room::ConnId id, asio::ip::tcp::socket up) {
    auto it = clients_.find(id);
    if (it == clients_.end()) {
        std::error_code ignored;
        up.close(ignored);
        return;
    }
    Client& c = it->second;
    c.connecting = false;
    c.upstream_tries = 0;
    end_login_timer(id);
    c.upstream = std::make_shared<FramedSocket>(std::move(up), options_.limits.send_cap);
    c.upstream_alive.reset();
    // Whether or not the room server keeps the link alive: a dead path is noticed by the kernel.
    c.upstream->set_dead_path_limit(options_.link_timeout_ms);
    c.upstream->start(
        [this, id](uint16_t type, const uint8_t* p, uint32_t n) { from_room_server(id, type, p, n); },
        [this, id](const std::string& why) {
            // The next login starts with the next room server: this one may be gone for good.
            next_upstream();
            closed(id, "room server: " + why);
        });
    for (auto& frame : c.pending) {
        const uint16_t type = uint16_t(frame[4] | (frame[5] << 8));
        c.upstream->send_frame(std::move(frame), type == pkt::kVideoFrame);
    }
    c.pending.clear();
    if (options_.link_timeout_ms > 0) {
        c.answer_timer =
            std::make_unique<asio::steady_timer>(io_, std::chrono::milliseconds(options_.link_timeout_ms));
        c.answer_timer->async_wait(
            [this, id, link = std::weak_ptr<FramedSocket>(c.upstream)](std::error_code ec) {
                // Cancelled: answered, or gone with its client or the relay (`this` may be gone too).
                if (ec)
                    return;
                auto it = clients_.find(id);
                // This link is gone already (closed, or replaced by a later login's).
                if (it == clients_.end() || !it->second.answer_timer || it->second.upstream != link.lock())
                    return;
                login_unanswered(id);
            });
    }
}

void Relay::login_unanswered(room::ConnId id) {
    Client& c = clients_[id];
    c.answer_timer.reset();
    if (limiter_.allow("upstream"))
        logs_.log("room server " + upstream_at(upstream_next_).host + ":" +
                  std::to_string(upstream_at(upstream_next_).port) + " did not answer the login in " +
                  std::to_string(options_.link_timeout_ms) + " ms");
    // The next login starts with the next room server: this one may be frozen for good.
    next_upstream();
    c.upstream->close();
    c.upstream.reset();
    c.upstream_alive.reset();
    c.login_seen = false;
    c.pending.clear();
    proto::LoginResult r;
    r.result = room::kLoginNoRoomServer;
    c.socket->send_frame(framing::make_frame(pkt::kLoginResult, r.encode()), false);
}

void Relay::from_room_server(room::ConnId id, uint16_t type, const uint8_t* p, uint32_t n) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client& c = it->second;
    if (type == pkt::kLoginResult)
        c.answer_timer.reset(); // answered: from here on the keepalives watch the link
    if (type == pkt::kKeepAlive) {
        keepalive_heard(c, p, n); // the link's own business: the client never sees it
        return;
    }
    if (type == pkt::kSessionToken) {
        // Kept for a reconnect of this session; the client never sees it.
        auto t = proto::SessionToken::decode(p, n);
        if (t && c.login)
            token_ = HeldToken{c.login->first, c.login->second, t->token};
        return;
    }
    // Speech reaches the client through the service's own playback, never as packets.
    if ((!tap_.to_client || tap_.to_client(id, type, p, n)) && type != pkt::kVoice)
        c.socket->send_frame(framing::make_frame(type, p, n), type == pkt::kVideoFrame);
    auto r = type == pkt::kLoginResult ? proto::LoginResult::decode(p, n) : std::nullopt;
    if (r && r->result == room::kLoginNoRoomServer && options_.room_servers.size() > 1) {
        // A room server that cannot serve the room now (a cluster node cut off from the others): the
        // client's next login goes to the next one.
        next_upstream();
        c.upstream->close();
        c.upstream.reset();
        c.upstream_alive.reset();
        c.login_seen = false;
    }
}

void Relay::keepalive_heard(Client& c, const uint8_t* p, uint32_t n) {
    // Only a room server that was told (the login's flag) sends it, and only to a service that asked.
    auto k = proto::KeepAlive::decode(p, n);
    if (!k || !c.upstream || options_.link_timeout_ms <= 0)
        return;
    const int64_t now = steady_now_ms({});
    if (!c.upstream_alive) {
        c.upstream_alive.emplace(options_.link_timeout_ms, now);
        c.upstream_alive->peer_limit(k->silence_limit_ms);
        // The room server learns at once after how long a silence this end gives the link up.
        c.upstream->send_frame(c.upstream_alive->keepalive_frame(now), false);
    } else {
        c.upstream_alive->peer_limit(k->silence_limit_ms);
    }
    want_keepalive_tick(c.upstream_alive->interval_ms() / 2);
}

int Relay::tick_keepalives() {
    int tick = ClientLinks::tick_keepalives();
    const int64_t now = steady_now_ms({});
    std::vector<std::pair<room::ConnId, int64_t>> silent;
    for (auto& [id, c] : clients_) {
        if (c.upstream && c.upstream_alive && !tick_link(*c.upstream_alive, *c.upstream, now, tick))
            silent.emplace_back(id, c.upstream_alive->silent_for_ms(now));
    }
    for (const auto& [id, ms] : silent) {
        // As if the room server had closed the link: the client is told by its link closing, and logs in
        // again (the next login starts with the next room server).
        auto it = clients_.find(id);
        if (it == clients_.end() || !it->second.upstream)
            continue;
        it->second.upstream->close();
        next_upstream();
        closed(id, "room server: nothing heard for " + std::to_string(ms) + " ms");
    }
    return tick;
}

std::vector<uint8_t> Relay::to_upstream(Client& c, uint16_t type, const uint8_t* data, size_t size) {
    if (type != pkt::kLogin)
        return framing::make_frame(type, data, size);
    auto l = proto::Login::decode(data, size);
    if (!l)
        return framing::make_frame(type, data, size);
    l->token.reset();
    c.login = std::make_pair(l->user_id, l->room_id);
    // Whether this end keeps the link alive is this service's to say, not the client's.
    if (options_.link_timeout_ms > 0)
        l->flags |= proto::Login::kKeepAliveFlag;
    else
        l->flags &= ~proto::Login::kKeepAliveFlag;
    // A fresh login (a restarted client, another user) starts a new session; only a reconnect of the
    // session this service holds the token of may take its seat over.
    if (token_ && (token_->user != l->user_id || token_->room != l->room_id))
        token_.reset();
    if (token_ && (l->flags & proto::Login::kReconnectFlag))
        l->token = token_->token;
    return framing::make_frame(pkt::kLogin, l->encode());
}
