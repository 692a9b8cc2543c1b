// The local service (see local_service.h).
#include "service/local_service.h"

#include <unistd.h>

#include "components/framed_socket.h"
#include "platform/process.h"
#include "wire/framing.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

LocalService::LocalService(asio::io_context& io, LocalServiceOptions options)
    : io_(io), options_(std::move(options)), listener_(io, [this](const std::string& line) { log(line); }),
      idle_timer_(io) {
    ClientLinks::Logs logs{[this](const std::string& line) { log(line); },
                           [this](const std::string& line) { log_unauthenticated(line); }};
    RoomConnections::Tap tap{[this](room::ConnId id, uint16_t type, const uint8_t* p, size_t n) {
                                 return from_client(id, type, p, n);
                             },
                             [this](room::ConnId id, uint16_t type, const uint8_t* p, size_t n) {
                                 return to_client(id, type, p, n);
                             }};
    auto gone = [this](room::ConnId id, ClientLinks::Gone why) { this->gone(id, why); };
    if (!options_.room_servers.empty()) {
        Relay::Options relay{options_.room_servers, options_.upstream_connect_timeout_ms,
                             options_.upstream_link_timeout_ms, options_.limits};
        links_ = std::make_unique<Relay>(io, std::move(relay), std::move(logs), std::move(tap), gone);
        return;
    }
    room::HubConfig c = options_.hub;
    if (!c.log)
        c.log = [](const std::string& s) { service_log(s); };
    room_ = std::make_shared<room::HubBackend>(std::move(c));
    links_ =
        std::make_unique<RoomConnections>(io, room_, options_.limits, std::move(logs), std::move(tap), gone);
}

LocalService::~LocalService() {
    stop();
}

bool LocalService::start() {
    const auto& to = options_.room_servers;
    const std::string note =
        to.empty() ? "" : " (relay to " + to.front().host + ":" + std::to_string(to.front().port) + ")";
    if (!listener_.start(options_.listen, note,
                         [this](asio::ip::tcp::socket s) { on_accepted(std::move(s)); }))
        return false;
    if (options_.exit_if_unused_ms >= 0)
        arm_idle_timer(options_.exit_if_unused_ms);
    return true;
}

void LocalService::stop() {
    listener_.close();
    idle_timer_.cancel();
    links_->close_all();
    voices_.clear();
}

void LocalService::log(const std::string& line) const {
    if (options_.hub.log)
        options_.hub.log(line);
    else
        service_log(line);
}

void LocalService::log_unauthenticated(const std::string& line) {
    // Its own room's lines about such connections and the service's share one limit.
    if (room_) {
        room_->hub().log_unauthenticated(line);
        return;
    }
    unauthenticated_.write(line, steady_now_ms(options_.hub.now_steady_ms),
                           [this](const std::string& l) { log(l); });
}

void LocalService::arm_idle_timer(int ms) {
    idle_timer_.expires_after(std::chrono::milliseconds(ms));
    idle_timer_.async_wait([this](std::error_code ec) {
        if (ec || links_->size() != 0)
            return;
        log("no client: ending");
        stop();
        io_.stop();
    });
}

bool LocalService::own_user(const asio::ip::tcp::socket& socket, const asio::ip::tcp::endpoint& remote) {
    if (!options_.own_user_only)
        return true;
    // 127.0.0.1 is every account's: only this user's programs may act as this user.
    std::error_code ec;
    const auto local = socket.local_endpoint(ec);
    const auto owner = tcp_peer_owner(remote.address().to_v4().to_uint(), remote.port(),
                                      local.address().to_v4().to_uint(), local.port());
    if (owner && *owner == getuid())
        return true;
    log_unauthenticated("refused a connection of another user (uid " +
                        (owner ? std::to_string(*owner) : std::string("unknown")) + ")");
    return false;
}

void LocalService::on_accepted(asio::ip::tcp::socket socket) {
    std::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    socket.local_endpoint(ec);
    if (ec || !own_user(socket, remote)) {
        socket.close(ec);
        return;
    }
    links_->make_room_for(remote.address());
    // A connection that has not logged in does not keep the only place from a client that will.
    if (links_->size() >= options_.max_clients)
        links_->give_way("no login, and only one client is served");
    if (links_->size() >= options_.max_clients) {
        log("refused a second client while one is served");
        socket.close(ec);
        return;
    }
    idle_timer_.cancel();
    const room::ConnId id = links_->add(std::move(socket));
    if (options_.voice)
        start_voice(id);
}

void LocalService::gone(room::ConnId id, ClientLinks::Gone why) {
    voices_.erase(id);
    // A connection closed for a newer one has a successor; one whose link closed or that its room sent away
    // (a broken rule, a final login result) leaves the service alone, and it ends unless a client comes.
    if (why != ClientLinks::Gone::Evicted && links_->size() == 0 && options_.exit_when_idle_ms >= 0)
        arm_idle_timer(options_.exit_when_idle_ms);
}

voice::VoiceSession* LocalService::voice_of(room::ConnId id) const {
    auto v = voices_.find(id);
    return v == voices_.end() ? nullptr : v->second.get();
}

bool LocalService::from_client(room::ConnId id, uint16_t type, const uint8_t* data, size_t size) {
    if (type == pkt::kVoice && options_.voice)
        return false; // speech comes from the service's own capture, never from its client
    if (auto* v = voice_of(id))
        v->from_client(type, data, size);
    return true;
}

bool LocalService::to_client(room::ConnId id, uint16_t type, const uint8_t* data, size_t size) {
    // A packet of the service's own (speech to play) stays here.
    auto* v = voice_of(id);
    return !v || (!v->from_room(type, data, size) && type != pkt::kVoice && type != pkt::kSessionToken);
}

void LocalService::start_voice(room::ConnId id) {
    voice::VoiceHooks hooks;
    // These run on the voice threads and hand over to the I/O thread; speech for a room server is written
    // from the capture thread itself once the I/O thread has named the connection (see VoiceRoute).
    auto route = std::make_shared<VoiceRoute>();
    hooks.send_voice = [this, id, route](proto::Bytes payload) {
        if (route->send(payload))
            return;
        asio::post(io_, [this, id, route, p = std::move(payload)] {
            links_->from_service(id, pkt::kVoice, p);
            route->passed_on(links_->room_link(id));
        });
    };
    hooks.microphone_failed = [this, id](const std::string& why) {
        asio::post(io_, [this, id, why] { microphone_failed(id, why); });
    };
    hooks.microphone_opened = [this, id] { asio::post(io_, [this, id] { microphone_opened(id); }); };
    hooks.log = [](const std::string& line) { service_log(line); };
    voices_[id] = std::make_unique<voice::VoiceSession>(options_.voice_config, std::move(hooks));
}

bool LocalService::VoiceRoute::send(const proto::Bytes& payload) {
    std::lock_guard lock(mutex);
    // Frames handed to the I/O thread go first: speech stays in order.
    if (!room || handed_over > 0) {
        ++handed_over;
        return false;
    }
    const auto frame = framing::make_frame(pkt::kVoice, payload);
    // The socket is idle: one send from here. Otherwise the frame waits in the socket's voice lane, after
    // what is being written (the socket's own thread-safe queue, which drops the oldest speech when full).
    if (room->try_send_now(frame))
        return true;
    if (room->is_open()) {
        room->send_shared(std::make_shared<const std::vector<uint8_t>>(frame), FramedSocket::Lane::Voice);
        return true;
    }
    // Closed: the I/O thread knows where speech goes now.
    room.reset();
    ++handed_over;
    return false;
}

void LocalService::VoiceRoute::passed_on(std::shared_ptr<FramedSocket> to) {
    std::lock_guard lock(mutex);
    --handed_over;
    room = std::move(to);
}

void LocalService::microphone_failed(room::ConnId id, const std::string& why) {
    FramedSocket* client = links_->client(id);
    if (!client)
        return;
    log("microphone: " + why);
    // The client is told, its microphone shows off again, and the room hears that it is off.
    static const std::string kGbkCannotOpenMicrophone =
        "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xC2\xF3\xBF\xCB\xB7\xE7\xA3\xBA"; // "无法打开麦克风："
    client->send_frame(
        framing::make_frame(pkt::kSystemText, proto::SystemText{kGbkCannotOpenMicrophone + why}.encode()),
        false);
    voice::VoiceSession* v = voice_of(id);
    if (v) {
        proto::MicrophoneState state{v->user(), 1, 1};
        client->send_frame(framing::make_frame(pkt::kMicrophoneState, state.encode()), false);
        const uint8_t off[1] = {0};
        v->from_client(pkt::kMicrophoneOff, off, 0);
    }
    links_->from_service(id, pkt::kMicrophoneOff, {});
}

void LocalService::microphone_opened(room::ConnId id) {
    FramedSocket* client = links_->client(id);
    voice::VoiceSession* v = voice_of(id);
    if (!client || !v)
        return;
    // The client says "on" only now: its own microphone state, as the room tells the others.
    proto::MicrophoneState state{v->user(), 1, 0};
    client->send_frame(framing::make_frame(pkt::kMicrophoneState, state.encode()), false);
}
