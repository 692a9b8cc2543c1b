// The connections of a server (see client_links.h).
#include "service/client_links.h"

#include <algorithm>

#include "components/framed_socket.h"
#include "wire/framing.h"
#include "wire/protocol.h"

ClientLinks::ClientLinks(asio::io_context& io, ConnectionLimits limits, Logs logs, GoneHook gone)
    : io_(io), limits_(limits), logs_(std::move(logs)), gone_(std::move(gone)),
      keepalive_timer_(io, [this] { return tick_keepalives(); }) {}

room::ConnId ClientLinks::add(asio::ip::tcp::socket socket) {
    if (2 * (count_ + 1) > slots_.size())
        grow();
    const size_t mask = slots_.size() - 1;
    room::ConnId id = next_id_;
    while (slots_[id & mask].id != 0)
        ++id;
    next_id_ = id + 1;
    // Only this thread writes to the connection: no lock per packet.
    auto framed =
        std::make_shared<FramedSocket>(std::move(socket), limits_.send_cap, FramedSocket::Threads::IoOnly);
    // Every peer, whether or not it keeps its link alive itself: a dead path is noticed by the kernel.
    if (limits_.link_timeout_ms > 0)
        framed->set_dead_path_limit(limits_.link_timeout_ms);
    Slot& slot = slots_[id & mask];
    slot.id = id;
    slot.link.socket = framed;
    ++count_;
    opened(id, framed);
    // Before the login only a frame of the login's size is taken: nobody can make the server buffer a
    // megabyte without having logged in.
    framed->set_max_frame(uint32_t(2 + proto::Login::kSizeWithToken));
    framed->start([this, id](uint16_t type, const uint8_t* p, uint32_t n) { on_frame(id, type, p, n); },
                  [this, id](const std::string& why) { closed(id, why); });
    arm_login_timer(id);
    return id;
}

void ClientLinks::grow() {
    std::vector<Slot> larger(slots_.size() * 2);
    const size_t mask = larger.size() - 1;
    for (Slot& s : slots_)
        if (s.id != 0)
            larger[s.id & mask] = std::move(s);
    slots_ = std::move(larger);
}

void ClientLinks::erase(room::ConnId id) {
    Slot& s = slots_[id & (slots_.size() - 1)];
    if (s.id != id)
        return;
    if (s.link.login_timer)
        s.link.login_timer->cancel();
    s = Slot{};
    --count_;
}

void ClientLinks::receive(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size) {
    if (link(id))
        on_frame(id, type, data, size);
}

void ClientLinks::make_room_for(const asio::ip::address& from) {
    std::vector<WaitingConnection> waiting;
    for (const Slot& s : slots_)
        if (s.id != 0 && waiting_for_login(s.id))
            waiting.push_back({s.id, s.link.socket->remote_endpoint().address()});
    if (auto e = eviction_for(waiting, from, limits_))
        evict(e->id, e->why);
}

bool ClientLinks::give_way(const std::string& why) {
    for (const Slot& s : slots_) {
        if (s.id != 0 && may_give_way(s.id)) {
            evict(s.id, why);
            return true;
        }
    }
    return false;
}

void ClientLinks::evict(room::ConnId id, const std::string& why) {
    Link* l = link(id);
    if (!l)
        return;
    logs_.unauthenticated("connection " + std::to_string(id) + " closed for a newer one: " + why);
    l->socket->close();
    erase(id);
    dropped(id);
    if (gone_)
        gone_(id, Gone::Evicted);
}

void ClientLinks::close_all() {
    keepalive_timer_.cancel();
    for (Slot& s : slots_) {
        if (s.id == 0)
            continue;
        s.link.socket->close();
        if (s.link.login_timer)
            s.link.login_timer->cancel();
        s = Slot{};
    }
    count_ = 0;
    dropped_all();
}

FramedSocket* ClientLinks::client(room::ConnId id) const {
    const Link* l = link(id);
    return l ? l->socket.get() : nullptr;
}

void ClientLinks::arm_login_timer(room::ConnId id) {
    if (limits_.login_timeout_ms < 0)
        return;
    auto timer =
        std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(limits_.login_timeout_ms));
    link(id)->login_timer = timer;
    timer->async_wait([this, id](std::error_code ec) {
        if (ec || !waiting_for_login(id))
            return;
        // A connection that never logs in (a port scan, a stalled or foreign client) does not keep its place.
        Link* l = link(id);
        if (!l)
            return;
        logs_.unauthenticated("connection " + std::to_string(id) + " closed: no login in time");
        l->socket->close();
        erase(id);
        dropped(id);
        if (gone_)
            gone_(id, Gone::Closed);
    });
}

void ClientLinks::end_login_timer(room::ConnId id) {
    // Cancelled now rather than left to find the login done: a session costs no wake-up later.
    if (Link* l = link(id); l && l->login_timer) {
        l->login_timer->cancel();
        l->login_timer.reset();
    }
}

void ClientLinks::keep_alive(room::ConnId id) {
    Link* l = link(id);
    if (!l || !l->asked_keepalive || l->liveness || limits_.link_timeout_ms <= 0)
        return;
    const int64_t now = steady_now_ms({});
    l->liveness.emplace(limits_.link_timeout_ms, now);
    // The peer learns now that this end keeps the link alive, and after how long a silence it gives it up.
    l->socket->send_frame(l->liveness->keepalive_frame(now), false);
    want_keepalive_tick(l->liveness->interval_ms() / 2);
}

void ClientLinks::keepalive_heard(room::ConnId id, const uint8_t* data, uint32_t size) {
    Link* l = link(id);
    if (!l || !l->liveness)
        return;
    if (auto k = proto::KeepAlive::decode(data, size)) {
        l->liveness->peer_limit(k->silence_limit_ms);
        want_keepalive_tick(l->liveness->interval_ms() / 2);
    }
}

bool ClientLinks::tick_link(LinkLiveness& live, FramedSocket& socket, int64_t now_ms, int& next_tick) {
    const auto step = live.tick(now_ms, socket.bytes_read(), socket.unread_bytes() > 0);
    if (step.silent)
        return false;
    if (step.send_keepalive)
        socket.send_frame(live.keepalive_frame(now_ms), false);
    const int wanted = live.interval_ms() / 2;
    next_tick = next_tick == 0 ? wanted : std::min(next_tick, wanted);
    return true;
}

int ClientLinks::tick_keepalives() {
    const int64_t now = steady_now_ms({});
    std::vector<std::pair<room::ConnId, int64_t>> silent;
    int tick = 0;
    for (Slot& s : slots_) {
        if (s.id != 0 && s.link.liveness && !tick_link(*s.link.liveness, *s.link.socket, now, tick))
            silent.emplace_back(s.id, s.link.liveness->silent_for_ms(now));
    }
    for (const auto& [id, ms] : silent) {
        // A peer that is gone or frozen: nothing more is said to it, and its seat is freed as on any close.
        if (Link* l = link(id))
            l->socket->close();
        closed(id, "nothing heard for " + std::to_string(ms) + " ms");
    }
    return tick;
}

void ClientLinks::closed(room::ConnId id, const std::string& why) {
    Link* l = link(id);
    if (!l)
        return;
    const std::string line = "connection " + std::to_string(id) + " closed: " + why;
    if (logged_in(id))
        logs_.log(line);
    else
        logs_.unauthenticated(line);
    // The room's last packets (a final login result) still reach the client before its link closes.
    l->socket->close_after_sending();
    erase(id);
    dropped(id);
    if (gone_)
        gone_(id, Gone::Closed);
}

void ClientLinks::send_away(room::ConnId id) {
    Link* l = link(id);
    if (!l)
        return;
    l->socket->close_after_sending();
    erase(id);
    if (gone_)
        gone_(id, Gone::SentAway);
}
