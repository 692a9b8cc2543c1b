// The room server (see room_server.h).
#include "service/room_server.h"

#include <unistd.h>

#include <algorithm>

namespace {

RoomServerOptions checked(RoomServerOptions o) {
    o.threads = o.backend ? 1 : std::clamp(o.threads, 1, 64);
    return o;
}

std::shared_ptr<room::HubBackend> own_rooms(const RoomServerOptions& o, int index,
                                            std::shared_ptr<room::SeatBook> seats,
                                            std::function<void(int, room::ConnId)> push_out,
                                            std::shared_ptr<UnauthenticatedLog> unauthenticated_log) {
    if (o.backend)
        return nullptr;
    room::HubConfig c = o.hub;
    if (!c.log)
        c.log = [](const std::string& s) { service_log(s); };
    c.seats = std::move(seats);
    c.hub_index = index;
    c.push_out_elsewhere = std::move(push_out);
    c.unauthenticated_log = std::move(unauthenticated_log);
    return std::make_shared<room::HubBackend>(std::move(c));
}

} // namespace

RoomServer::RoomServer(asio::io_context& io, RoomServerOptions options)
    : options_(checked(std::move(options))), seats_(std::make_shared<room::SeatBook>()), io_(io),
      listener_(io, [this](const std::string& line) { log(line); }),
      hub_(own_rooms(
          options_, 0, seats_, [this](int index, room::ConnId conn) { push_out(index, conn); },
          unauthenticated_log_)),
      connections_(io, options_.backend ? options_.backend : hub_, options_.limits,
                   {[this](const std::string& line) { log(line); },
                    [this](const std::string& line) { log_unauthenticated(line); }}) {
    for (int index = 1; index < options_.threads; ++index) {
        auto t = std::make_unique<RoomThread>();
        RoomThread* raw = t.get();
        t->hub = own_rooms(
            options_, index, seats_, [this](int i, room::ConnId conn) { push_out(i, conn); },
            unauthenticated_log_);
        // Lines about connections that have not logged in share the server's one limit, whichever thread
        // writes them.
        t->connections = std::make_unique<RoomConnections>(
            t->io, t->hub, options_.limits,
            ClientLinks::Logs{[this](const std::string& line) { log(line); },
                              [raw](const std::string& line) { raw->hub->hub().log_unauthenticated(line); }});
        more_.push_back(std::move(t));
    }
    if (!more_.empty())
        lobby_ = std::make_unique<LoginLobby>(
            io, options_.limits, [this](const std::string& line) { log_unauthenticated(line); },
            [this](LoginLobby::Arrival a) { hand_over(std::move(a)); });
}

RoomServer::~RoomServer() {
    stop();
}

bool RoomServer::start() {
    if (!listener_.start(options_.listen,
                         more_.empty() ? "" : " (rooms on " + std::to_string(options_.threads) + " threads)",
                         [this](asio::ip::tcp::socket s) { on_accepted(std::move(s)); }))
        return false;
    for (auto& t : more_) {
        RoomThread* raw = t.get();
        raw->work.emplace(raw->io.get_executor());
        raw->thread = std::thread([raw] { raw->io.run(); });
    }
    return true;
}

void RoomServer::stop() {
    listener_.close();
    if (lobby_)
        lobby_->close_all();
    connections_.close_all();
    for (auto& t : more_) {
        if (!t->thread.joinable())
            continue;
        RoomThread* raw = t.get();
        asio::post(raw->io, [raw] {
            raw->connections->close_all();
            raw->work.reset();
        });
        raw->thread.join();
    }
}

void RoomServer::log(const std::string& line) const {
    if (options_.hub.log)
        options_.hub.log(line);
    else
        service_log(line);
}

void RoomServer::log_unauthenticated(const std::string& line) {
    // The rooms' lines about such connections (this process's own, or a cluster node's) and the server's
    // share one limit.
    if (options_.backend)
        options_.backend->log_unauthenticated(line);
    else
        hub_->log_unauthenticated(line);
}

void RoomServer::on_accepted(asio::ip::tcp::socket socket) {
    std::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    socket.local_endpoint(ec);
    if (ec) {
        socket.close(ec);
        return;
    }
    if (lobby_) {
        lobby_->add(std::move(socket));
        return;
    }
    connections_.make_room_for(remote.address());
    connections_.add(std::move(socket));
}

size_t RoomServer::thread_of(uint32_t room) const {
    return size_t(room % uint32_t(options_.threads));
}

void RoomServer::hand_over(LoginLobby::Arrival arrival) {
    const size_t index = thread_of(arrival.room);
    if (index == 0) {
        arrive(io_, connections_, std::move(arrival));
        return;
    }
    RoomThread* t = more_[index - 1].get();
    asio::post(t->io,
               [t, a = std::move(arrival)]() mutable { arrive(t->io, *t->connections, std::move(a)); });
}

void RoomServer::arrive(asio::io_context& io, RoomConnections& connections, LoginLobby::Arrival arrival) {
    asio::ip::tcp::socket socket(io);
    std::error_code ec;
    socket.assign(arrival.remote.protocol(), arrival.fd, ec);
    if (ec) {
        ::close(arrival.fd);
        return;
    }
    connections.make_room_for(arrival.remote.address());
    const room::ConnId id = connections.add(std::move(socket));
    connections.receive(id, arrival.type, arrival.payload.data(), uint32_t(arrival.payload.size()));
}

void RoomServer::push_out(int index, room::ConnId conn) {
    if (index == 0) {
        asio::post(io_, [this, conn] { connections_.push_out(conn); });
        return;
    }
    if (index < 1 || size_t(index) > more_.size())
        return;
    RoomThread* t = more_[size_t(index) - 1].get();
    asio::post(t->io, [t, conn] { t->connections->push_out(conn); });
}
