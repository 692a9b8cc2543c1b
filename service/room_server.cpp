// The room server (see room_server.h).
#include "service/room_server.h"

namespace {

std::shared_ptr<room::HubBackend> own_rooms(const RoomServerOptions& o) {
    if (o.backend)
        return nullptr;
    room::HubConfig c = o.hub;
    if (!c.log)
        c.log = [](const std::string& s) { service_log(s); };
    return std::make_shared<room::HubBackend>(std::move(c));
}

} // namespace

RoomServer::RoomServer(asio::io_context& io, RoomServerOptions options)
    : options_(std::move(options)), listener_(io, [this](const std::string& line) { log(line); }),
      hub_(own_rooms(options_)),
      connections_(io, options_.backend ? options_.backend : hub_, options_.limits,
                   {[this](const std::string& line) { log(line); },
                    [this](const std::string& line) { log_unauthenticated(line); }}) {}

RoomServer::~RoomServer() {
    stop();
}

bool RoomServer::start() {
    return listener_.start(options_.listen, "",
                           [this](asio::ip::tcp::socket s) { on_accepted(std::move(s)); });
}

void RoomServer::stop() {
    listener_.close();
    connections_.close_all();
}

void RoomServer::log(const std::string& line) const {
    if (options_.hub.log)
        options_.hub.log(line);
    else
        service_log(line);
}

void RoomServer::log_unauthenticated(const std::string& line) {
    // The own rooms' lines about such connections and the server's share one limit.
    if (hub_)
        hub_->hub().log_unauthenticated(line);
    else
        unauthenticated_.write(line, steady_now_ms(options_.hub.now_steady_ms),
                               [this](const std::string& l) { log(l); });
}

void RoomServer::on_accepted(asio::ip::tcp::socket socket) {
    std::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    socket.local_endpoint(ec);
    if (ec) {
        socket.close(ec);
        return;
    }
    connections_.make_room_for(remote.address());
    connections_.add(std::move(socket));
}
