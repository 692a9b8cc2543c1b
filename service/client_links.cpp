// The connections of a server (see client_links.h).
#include "service/client_links.h"

#include "components/framed_socket.h"
#include "wire/protocol.h"

ClientLinks::ClientLinks(asio::io_context& io, ConnectionLimits limits, Logs logs, GoneHook gone)
    : io_(io), limits_(limits), logs_(std::move(logs)), gone_(std::move(gone)) {}

room::ConnId ClientLinks::add(asio::ip::tcp::socket socket) {
    const room::ConnId id = next_id_++;
    auto framed = std::make_shared<FramedSocket>(std::move(socket), limits_.send_cap);
    links_[id].socket = framed;
    opened(id, framed);
    // Before the login only a frame of the login's size is taken: nobody can make the server buffer a
    // megabyte without having logged in.
    framed->set_max_frame(uint32_t(2 + proto::Login::kSizeWithToken));
    framed->start([this, id](uint16_t type, const uint8_t* p, uint32_t n) { on_frame(id, type, p, n); },
                  [this, id](const std::string& why) { closed(id, why); });
    arm_login_timer(id);
    return id;
}

void ClientLinks::receive(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size) {
    if (links_.count(id))
        on_frame(id, type, data, size);
}

void ClientLinks::make_room_for(const asio::ip::address& from) {
    std::vector<WaitingConnection> waiting;
    for (const auto& [id, l] : links_)
        if (waiting_for_login(id))
            waiting.push_back({id, l.socket->remote_endpoint().address()});
    if (auto e = eviction_for(waiting, from, limits_))
        evict(e->id, e->why);
}

bool ClientLinks::give_way(const std::string& why) {
    for (const auto& [id, l] : links_) {
        if (may_give_way(id)) {
            evict(id, why);
            return true;
        }
    }
    return false;
}

void ClientLinks::evict(room::ConnId id, const std::string& why) {
    auto l = links_.find(id);
    if (l == links_.end())
        return;
    logs_.unauthenticated("connection " + std::to_string(id) + " closed for a newer one: " + why);
    l->second.socket->close();
    if (l->second.login_timer)
        l->second.login_timer->cancel();
    links_.erase(l);
    dropped(id);
    if (gone_)
        gone_(id, Gone::Evicted);
}

void ClientLinks::close_all() {
    for (auto& [id, l] : links_)
        l.socket->close();
    links_.clear();
    dropped_all();
}

FramedSocket* ClientLinks::client(room::ConnId id) const {
    auto l = links_.find(id);
    return l == links_.end() ? nullptr : l->second.socket.get();
}

void ClientLinks::arm_login_timer(room::ConnId id) {
    if (limits_.login_timeout_ms < 0)
        return;
    auto timer =
        std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(limits_.login_timeout_ms));
    links_[id].login_timer = timer;
    timer->async_wait([this, id](std::error_code ec) {
        if (ec || !waiting_for_login(id))
            return;
        // A connection that never logs in (a port scan, a stalled or foreign client) does not keep its place.
        auto l = links_.find(id);
        if (l == links_.end())
            return;
        logs_.unauthenticated("connection " + std::to_string(id) + " closed: no login in time");
        l->second.socket->close();
        links_.erase(l);
        dropped(id);
        if (gone_)
            gone_(id, Gone::Closed);
    });
}

void ClientLinks::closed(room::ConnId id, const std::string& why) {
    auto l = links_.find(id);
    if (l == links_.end())
        return;
    const std::string line = "connection " + std::to_string(id) + " closed: " + why;
    if (logged_in(id))
        logs_.log(line);
    else
        logs_.unauthenticated(line);
    if (l->second.login_timer)
        l->second.login_timer->cancel();
    // The room's last packets (a final login result) still reach the client before its link closes.
    l->second.socket->close_after_sending();
    links_.erase(l);
    dropped(id);
    if (gone_)
        gone_(id, Gone::Closed);
}

void ClientLinks::send_away(room::ConnId id) {
    auto l = links_.find(id);
    if (l == links_.end())
        return;
    l->second.socket->close_after_sending();
    links_.erase(l);
    if (gone_)
        gone_(id, Gone::SentAway);
}
