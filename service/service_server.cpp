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

// The process's own rooms behind the backend interface.
class HubBackend : public room::RoomBackend {
public:
    explicit HubBackend(room::RoomHub& hub) : hub_(hub) {}
    void on_connect(room::ConnId conn, uint32_t ip, uint16_t port) override {
        hub_.on_connect(conn, ip, port);
    }
    std::vector<room::Outgoing> on_packet(room::ConnId conn, uint16_t type, const uint8_t* data,
                                          size_t size) override {
        return hub_.on_packet(conn, type, data, size);
    }
    std::vector<room::Outgoing> on_disconnect(room::ConnId conn) override { return hub_.on_disconnect(conn); }
    bool logged_in(room::ConnId conn) const override { return hub_.logged_in(conn); }
    void log_unauthenticated(const std::string& line) override { hub_.log_unauthenticated(line); }

private:
    room::RoomHub& hub_;
};

} // namespace

ServiceServer::ServiceServer(asio::io_context& io, ServerOptions options)
    : io_(io), options_(std::move(options)), acceptor_(io), idle_timer_(io), hub_([this] {
          room::HubConfig c = options_.hub;
          if (!c.log)
              c.log = [](const std::string& s) { service_log(s); };
          return c;
      }()),
      accept_retry_(io) {
    room_ = options_.backend ? options_.backend : std::make_shared<HubBackend>(hub_);
    room_->attach([this](const std::vector<room::Outgoing>& out) { deliver(out); });
}

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
        (options_.relay_to
             ? " (relay to " + options_.relay_to->host + ":" + std::to_string(options_.relay_to->port) + ")"
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
            room_->log_unauthenticated("refused a connection of another user (uid " +
                                       (owner ? std::to_string(*owner) : std::string("unknown")) + ")");
            return false;
        }
    }
    // Ids grow with time: the smallest waiting one is the oldest.
    size_t waiting = 0, from_there = 0;
    std::optional<room::ConnId> oldest, oldest_from_there;
    for (const auto& [id, c] : clients_) {
        if (room_->logged_in(id) || c.login_seen || c.sent_a_login || c.upstream)
            continue;
        ++waiting;
        if (!oldest || id < *oldest)
            oldest = id;
        if (c.socket->remote_endpoint().address() == remote.address()) {
            ++from_there;
            if (!oldest_from_there || id < *oldest_from_there)
                oldest_from_there = id;
        }
    }
    if (from_there >= options_.max_unauthenticated_per_address && oldest_from_there)
        evict(*oldest_from_there,
              std::to_string(from_there) + " from " + remote.address().to_string() + " wait for their login");
    else if (waiting >= options_.max_unauthenticated && oldest)
        evict(*oldest, std::to_string(waiting) + " wait for their login");
    return true;
}

void ServiceServer::evict(room::ConnId id, const std::string& why) {
    auto c = clients_.find(id);
    if (c == clients_.end())
        return;
    room_->log_unauthenticated("connection " + std::to_string(id) + " closed for a newer one: " + why);
    c->second.socket->close();
    if (c->second.login_timer)
        c->second.login_timer->cancel();
    clients_.erase(c);
    if (!options_.relay_to)
        deliver(room_->on_disconnect(id));
}

void ServiceServer::on_accepted(asio::ip::tcp::socket socket) {
    if (!accept_allowed(socket)) {
        std::error_code ec;
        socket.close(ec);
        return;
    }
    if (clients_.size() >= options_.max_clients) {
        // A connection that has not logged in does not keep the only place from a client that will.
        for (auto it = clients_.begin(); it != clients_.end(); ++it) {
            if (!room_->logged_in(it->first) && !it->second.login_seen && !it->second.upstream) {
                evict(it->first, "no login, and only one client is served");
                break;
            }
        }
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
    if (options_.voice)
        start_voice(id);
    if (options_.relay_to)
        start_relay_client(id);
    else
        start_hub_client(id);
}

void ServiceServer::start_hub_client(room::ConnId id) {
    auto& socket = clients_[id].socket;
    auto remote = socket->remote_endpoint();
    uint32_t ip = remote.address().is_v4() ? htonl(remote.address().to_v4().to_uint()) : 0;
    room_->on_connect(id, ip, remote.port());
    // Before the login only a frame of the login's size is taken: nobody can make the server buffer a
    // megabyte without having logged in.
    socket->set_max_frame(uint32_t(2 + proto::Login::kSizeWithToken));
    std::weak_ptr<FramedSocket> weak = socket;
    socket->start(
        [this, id, weak](uint16_t type, const uint8_t* p, uint32_t n) {
            if (type == pkt::kVoice && options_.voice)
                return; // speech comes from the service's own capture, never from its client
            if (auto c = clients_.find(id); c != clients_.end() && c->second.voice)
                c->second.voice->from_client(type, p, n);
            const bool was_in = room_->logged_in(id);
            deliver(room_->on_packet(id, type, p, n));
            if (!was_in && room_->logged_in(id))
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
        if (ec || room_->logged_in(id))
            return;
        auto w = clients_.find(id);
        if (w != clients_.end() && (w->second.login_seen || w->second.sent_a_login || w->second.upstream))
            return;
        // A connection that never logs in (a port scan, a stalled or foreign client) does not keep its place.
        auto c = clients_.find(id);
        if (c == clients_.end())
            return;
        room_->log_unauthenticated("connection " + std::to_string(id) + " closed: no login in time");
        c->second.socket->close();
        clients_.erase(c);
        deliver(room_->on_disconnect(id));
        if (clients_.empty() && options_.exit_when_idle_ms >= 0)
            arm_idle_timer(options_.exit_when_idle_ms);
    });
}

void ServiceServer::start_relay_client(room::ConnId id) {
    Client& c = clients_[id];
    c.socket->set_max_frame(uint32_t(2 + proto::Login::kSizeWithToken));
    std::weak_ptr<FramedSocket> weak = c.socket;
    c.socket->start(
        [this, id, weak](uint16_t type, const uint8_t* p, uint32_t n) {
            auto it = clients_.find(id);
            if (it == clients_.end())
                return;
            Client& me = it->second;
            if (type == pkt::kVoice)
                return; // speech comes from the service's own capture, never from its client
            if (me.voice)
                me.voice->from_client(type, p, n);
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
            if (auto s = weak.lock())
                s->set_max_frame(framing::kMaxLength);
            if (type == pkt::kLogin && !me.connecting)
                connect_upstream(id);
        },
        [this, id](const std::string& why) { closed(id, why); });
    arm_login_timer(id);
}

const ServerOptions::Upstream& ServiceServer::upstream_at(size_t i) const {
    i %= upstream_count();
    return i == 0 ? *options_.relay_to : options_.relay_alternates[i - 1];
}

void ServiceServer::connect_upstream(room::ConnId id) {
    Client& c = clients_[id];
    const ServerOptions::Upstream& up = upstream_at(upstream_next_);
    c.connecting = true;
    auto resolver = std::make_shared<asio::ip::tcp::resolver>(io_);
    auto socket = std::make_shared<asio::ip::tcp::socket>(io_);
    auto timer = std::make_shared<asio::steady_timer>(
        io_, std::chrono::milliseconds(options_.upstream_connect_timeout_ms));
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
    resolver->async_resolve(up.host, std::to_string(up.port),
                            [this, id, resolver, socket, timer,
                             done](std::error_code ec, asio::ip::tcp::resolver::results_type results) {
                                if (*done)
                                    return;
                                if (ec) {
                                    *done = true;
                                    timer->cancel();
                                    upstream_failed(id, ec.message());
                                    return;
                                }
                                asio::async_connect(*socket, results,
                                                    [this, id, socket, timer, done](
                                                        std::error_code e, const asio::ip::tcp::endpoint&) {
                                                        if (*done)
                                                            return;
                                                        *done = true;
                                                        timer->cancel();
                                                        if (e)
                                                            upstream_failed(id, e.message());
                                                        else
                                                            upstream_ready(id, std::move(*socket));
                                                    });
                            });
}

void ServiceServer::upstream_failed(room::ConnId id, const std::string& why) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client& c = it->second;
    c.connecting = false;
    log_limited("upstream", "cannot reach the room server " + upstream_at(upstream_next_).host + ":" +
                                std::to_string(upstream_at(upstream_next_).port) + ": " + why);
    upstream_next_ = (upstream_next_ + 1) % upstream_count();
    if (++c.upstream_tries < upstream_count()) {
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

void ServiceServer::upstream_ready(room::ConnId id, asio::ip::tcp::socket up) {
    auto it = clients_.find(id);
    if (it == clients_.end()) {
        std::error_code ignored;
        up.close(ignored);
        return;
    }
    Client& c = it->second;
    c.connecting = false;
    c.upstream_tries = 0;
    if (c.login_timer)
        c.login_timer->cancel();
    c.upstream = std::make_shared<FramedSocket>(std::move(up), options_.send_cap);
    c.upstream->start(
        [this, id](uint16_t type, const uint8_t* p, uint32_t n) {
            auto it = clients_.find(id);
            if (it == clients_.end())
                return;
            if (type == pkt::kSessionToken) {
                // Kept for a reconnect of this session; the client never sees it.
                auto t = proto::SessionToken::decode(p, n);
                if (t && it->second.login)
                    token_ = HeldToken{it->second.login->first, it->second.login->second, t->token};
                return;
            }
            if (for_client(it->second, type, p, n))
                it->second.socket->send_frame(framing::make_frame(type, p, n), type == pkt::kVideoFrame);
            auto r = type == pkt::kLoginResult ? proto::LoginResult::decode(p, n) : std::nullopt;
            if (r && r->result == room::kLoginNoRoomServer && upstream_count() > 1) {
                // A room server that cannot serve the room now (a cluster node cut off from the others):
                // the client's next login goes to the next one.
                upstream_next_ = (upstream_next_ + 1) % upstream_count();
                it->second.upstream->close();
                it->second.upstream.reset();
                it->second.login_seen = false;
            }
        },
        [this, id](const std::string& why) {
            // The next login starts with the next room server: this one may be gone for good.
            upstream_next_ = (upstream_next_ + 1) % upstream_count();
            closed(id, "room server: " + why);
        });
    for (auto& frame : c.pending) {
        const uint16_t type = uint16_t(frame[4] | (frame[5] << 8));
        c.upstream->send_frame(std::move(frame), type == pkt::kVideoFrame);
    }
    c.pending.clear();
}

std::vector<uint8_t> ServiceServer::to_upstream(Client& c, uint16_t type, const uint8_t* data, size_t size) {
    if (type != pkt::kLogin)
        return framing::make_frame(type, data, size);
    auto l = proto::Login::decode(data, size);
    if (!l)
        return framing::make_frame(type, data, size);
    l->token.reset();
    c.login = std::make_pair(l->user_id, l->room_id);
    // A fresh login (a restarted client, another user) starts a new session; only a reconnect of the
    // session this service holds the token of may take its seat over.
    if (token_ && (token_->user != l->user_id || token_->room != l->room_id))
        token_.reset();
    if (token_ && (l->flags & proto::Login::kReconnectFlag))
        l->token = token_->token;
    return framing::make_frame(pkt::kLogin, l->encode());
}

void ServiceServer::deliver(const std::vector<room::Outgoing>& out) {
    // One frame per payload, shared by all of its receivers.
    const void* last_payload = nullptr;
    uint16_t last_type = 0;
    FramedSocket::SharedFrame frame;
    for (const room::Outgoing& o : out) {
        auto c = clients_.find(o.to);
        if (c == clients_.end())
            continue;
        if (o.close) {
            // What the room said to it last (why it is sent away) still goes out first.
            room::ConnId gone = o.to;
            c->second.socket->close_after_sending();
            clients_.erase(c);
            room_->on_disconnect(gone);
            continue;
        }
        if (c->second.voice && !for_client(c->second, o.type, o.payload.data(), o.payload.size()))
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

bool ServiceServer::for_client(Client& c, uint16_t type, const uint8_t* data, size_t size) {
    return !(c.voice && c.voice->from_room(type, data, size)) && type != pkt::kVoice &&
           type != pkt::kSessionToken;
}

void ServiceServer::start_voice(room::ConnId id) {
    voice::VoiceHooks hooks;
    // Both run on the voice threads and hand over to the I/O thread.
    hooks.send_voice = [this, id](proto::Bytes payload) {
        asio::post(io_, [this, id, p = std::move(payload)]() mutable { send_voice(id, std::move(p)); });
    };
    hooks.microphone_failed = [this, id](const std::string& why) {
        asio::post(io_, [this, id, why] { microphone_failed(id, why); });
    };
    hooks.microphone_opened = [this, id] { asio::post(io_, [this, id] { microphone_opened(id); }); };
    hooks.log = [](const std::string& line) { service_log(line); };
    clients_[id].voice = std::make_unique<voice::VoiceSession>(options_.voice_config, std::move(hooks));
}

void ServiceServer::send_voice(room::ConnId id, proto::Bytes payload) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    if (options_.relay_to) {
        if (it->second.upstream && it->second.upstream->is_open())
            it->second.upstream->send_shared(
                std::make_shared<const std::vector<uint8_t>>(framing::make_frame(pkt::kVoice, payload)),
                FramedSocket::Lane::Voice);
        return;
    }
    deliver(room_->on_packet(id, pkt::kVoice, payload.data(), payload.size()));
}

void ServiceServer::microphone_failed(room::ConnId id, const std::string& why) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    log("microphone: " + why);
    // The client is told, its microphone shows off again, and the room hears that it is off.
    static const std::string kGbkCannotOpenMicrophone =
        "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xC2\xF3\xBF\xCB\xB7\xE7\xA3\xBA"; // "无法打开麦克风："
    Client& c = it->second;
    c.socket->send_frame(
        framing::make_frame(pkt::kSystemText, proto::SystemText{kGbkCannotOpenMicrophone + why}.encode()),
        false);
    if (c.voice) {
        proto::MicrophoneState state{c.voice->user(), 1, 1};
        c.socket->send_frame(framing::make_frame(pkt::kMicrophoneState, state.encode()), false);
    }
    const uint8_t off[1] = {0};
    if (c.voice)
        c.voice->from_client(pkt::kMicrophoneOff, off, 0);
    if (options_.relay_to) {
        if (c.upstream && c.upstream->is_open())
            c.upstream->send_frame(framing::make_frame(pkt::kMicrophoneOff, off, 0), false);
    } else {
        deliver(room_->on_packet(id, pkt::kMicrophoneOff, off, 0));
    }
}

void ServiceServer::microphone_opened(room::ConnId id) {
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->second.voice)
        return;
    // The client says "on" only now: its own microphone state, as the room tells the others.
    proto::MicrophoneState state{it->second.voice->user(), 1, 0};
    it->second.socket->send_frame(framing::make_frame(pkt::kMicrophoneState, state.encode()), false);
}

void ServiceServer::closed(room::ConnId id, const std::string& why) {
    auto c = clients_.find(id);
    if (c == clients_.end())
        return;
    const std::string line = "connection " + std::to_string(id) + " closed: " + why;
    if (room_->logged_in(id) || c->second.login_seen)
        log(line);
    else
        room_->log_unauthenticated(line);
    if (c->second.login_timer)
        c->second.login_timer->cancel();
    // The room server's last packets (a final login result) still reach the client before its link closes.
    c->second.socket->close_after_sending();
    if (c->second.upstream)
        c->second.upstream->close();
    clients_.erase(c);
    if (!options_.relay_to)
        deliver(room_->on_disconnect(id));
    if (clients_.empty() && options_.exit_when_idle_ms >= 0)
        arm_idle_timer(options_.exit_when_idle_ms);
}
