// The connections of a server past their accept, each read as frames: into rooms (RoomConnections) or passed
// on to a room server (Relay). What they share lives here: before its login a connection may send only a
// login-sized frame, it is closed when it does not log in in time, and it gives way to newer ones when too
// many wait for their login. All calls, the hooks' included, are made on the server's I/O thread, which is
// also the only one that writes to the connections.
#pragma once

#include <asio.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/keepalive_timer.h"
#include "service/link_liveness.h"
#include "service/listener.h"

class FramedSocket;

class ClientLinks {
public:
    // Why a connection left the set.
    enum class Gone {
        Closed,   // its link closed, or it did not log in in time
        Evicted,  // closed for a newer connection
        SentAway, // the room closed it
    };
    using GoneHook = std::function<void(room::ConnId, Gone)>;
    struct Logs {
        LogLine log;             // the server's lines
        LogLine unauthenticated; // lines about connections that have not logged in (limited)
    };

    ClientLinks(asio::io_context& io, ConnectionLimits limits, Logs logs, GoneHook gone);
    virtual ~ClientLinks() = default;
    ClientLinks(const ClientLinks&) = delete;
    ClientLinks& operator=(const ClientLinks&) = delete;

    // Takes an accepted connection and starts reading it; its id, which grows with every connection (not by
    // one each time: see Slot).
    room::ConnId add(asio::ip::tcp::socket socket);
    // A frame of connection `id` read before it came here (its login, read where it was accepted): handled
    // as if it had been read now, before anything read later.
    void receive(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size);
    // Applies the caps on connections waiting for their login before a newcomer from `from` is taken.
    void make_room_for(const asio::ip::address& from);
    // Closes a connection that may give its place to a newcomer when the places are taken; false when none
    // may.
    bool give_way(const std::string& why);
    size_t size() const { return count_; }
    // Closes every connection, without telling anyone.
    void close_all();
    // The client's side of connection `id`, for the service's own messages to it; null when gone.
    FramedSocket* client(room::ConnId id) const;
    // A packet of the service's own (its user's speech, the microphone going off) for the room.
    virtual void from_service(room::ConnId id, uint16_t type, const proto::Bytes& payload) = 0;
    // The connection to the room server that connection `id`'s packets go to unchanged, when there is one and
    // it is open: the service's own speech may be written to it from the capture thread. Null when the room
    // is this process's own.
    virtual std::shared_ptr<FramedSocket> room_link(room::ConnId) const { return nullptr; }

protected:
    struct Link {
        std::shared_ptr<FramedSocket> socket;
        std::shared_ptr<asio::steady_timer> login_timer; // until the login
        // Logged in (as the subclass says): its packets need no look-up of whether they may be taken.
        bool entered = false;
        bool asked_keepalive = false;         // its login said that it keeps the link alive
        std::optional<LinkLiveness> liveness; // while the link is kept alive
    };
    // A new connection, before its first frame is read.
    virtual void opened(room::ConnId id, const std::shared_ptr<FramedSocket>& socket) = 0;
    virtual void on_frame(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size) = 0;
    // Connection `id` counts against the caps and the time limit on the login.
    virtual bool waiting_for_login(room::ConnId id) const = 0;
    // Connection `id` may give its place to a newcomer.
    virtual bool may_give_way(room::ConnId id) const { return waiting_for_login(id); }
    // The close of connection `id` is a line of the log (not a limited one).
    virtual bool logged_in(room::ConnId id) const = 0;
    // Connection `id` has gone (closed, evicted, not logged in in time): what goes with it.
    virtual void dropped(room::ConnId id) = 0;
    // Every connection has been closed.
    virtual void dropped_all() {}

    // The link of `id` closed (by its peer or after an error).
    void closed(room::ConnId id, const std::string& why);
    // Removes a connection the room sent away, after what was said to it last has gone out.
    void send_away(room::ConnId id);
    // The link of connection `id`; null when it is gone (or never was: 0 marks a free place).
    Link* link(room::ConnId id) {
        Slot& s = slots_[id & (slots_.size() - 1)];
        return s.id == id && id != 0 ? &s.link : nullptr;
    }
    const Link* link(room::ConnId id) const { return const_cast<ClientLinks*>(this)->link(id); }
    // Connection `id` has logged in: no time limit on its login any more.
    void end_login_timer(room::ConnId id);
    // Connection `id` keeps its link alive, when its login asked for it and the limits have a link time-out:
    // the first keepalive goes out now (after what is queued for it), and from now on the connection is
    // closed once it is silent for the time-out.
    void keep_alive(room::ConnId id);
    // A keepalive of connection `id` (any other packet counts as well; this one also names the peer's limit).
    void keepalive_heard(room::ConnId id, const uint8_t* data, uint32_t size);
    // Every kept-alive link: keepalives that are due go out, silent links are closed. How long until the
    // next tick is wanted (0: no link is kept alive). A subclass with links of its own adds them.
    virtual int tick_keepalives();
    // The next keepalive tick in `ms` at the most.
    void want_keepalive_tick(int ms) { keepalive_timer_.want(ms); }
    // One kept-alive link's turn at a tick: false when it has been silent for its limit (to be given up);
    // otherwise a keepalive goes out when one is due, and `next_tick` becomes the soonest this link wants
    // the next tick (0 stands for none yet).
    static bool tick_link(LinkLiveness& live, FramedSocket& socket, int64_t now_ms, int& next_tick);

    asio::io_context& io_;
    ConnectionLimits limits_;
    Logs logs_;

private:
    // The links, looked up once per receiver of every packet, without hashing: each id is chosen so that its
    // place is free, the id modulo the table's size (a power of two). The table is kept at most half full,
    // so a free place is near; when it doubles, ids apart modulo the old size stay apart modulo the new one.
    struct Slot {
        room::ConnId id = 0; // 0: free
        Link link;
    };
    void erase(room::ConnId id);
    void grow();
    void evict(room::ConnId id, const std::string& why);
    void arm_login_timer(room::ConnId id);

    std::vector<Slot> slots_ = std::vector<Slot>(16);
    size_t count_ = 0;
    GoneHook gone_;
    room::ConnId next_id_ = 1;
    KeepAliveTimer keepalive_timer_;
};
