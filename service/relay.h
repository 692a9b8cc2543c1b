// The local service's client connections passed on to a room server: the room server is reached anew at
// every login of the client (by name or address; with several, the nodes of a cluster, in turn, starting
// after the one that last failed), every packet goes on unchanged both ways, and the session token the room
// server gives is kept here for the client's reconnects. A login that finds no room server is answered with a
// failure the client retries by itself, and so is one that the room server does not answer within the link
// time-out. A room server that goes silent later (a dead path, a frozen host) is given up like one that
// closed the link, so the client sees its link lost and reconnects (docs/LINKS.md). All calls, the hooks'
// included, are made on the I/O thread.
#pragma once

#include <array>
#include <memory>
#include <unordered_map>
#include <utility>

#include "service/client_links.h"
#include "service/link_liveness.h"
#include "service/room_connections.h"

class Relay : public ClientLinks {
public:
    struct Upstream {
        std::string host;
        uint16_t port = 0;
    };
    struct Options {
        std::vector<Upstream> room_servers; // at least one
        int connect_timeout_ms = 5000;
        // A room server link silent this long is given up: the kernel probes the path, and a room server
        // that keeps links alive is heard at least this often. 0 or negative: never.
        int link_timeout_ms = -1;
        ConnectionLimits limits;
    };
    // The same tap as connections into a room of this process.
    Relay(asio::io_context& io, Options options, Logs logs, RoomConnections::Tap tap, GoneHook gone = {});

    void from_service(room::ConnId id, uint16_t type, const proto::Bytes& payload) override;
    std::shared_ptr<FramedSocket> room_link(room::ConnId id) const override;

private:
    struct Client {
        std::shared_ptr<FramedSocket> socket;
        std::shared_ptr<FramedSocket> upstream;
        bool login_seen = false;   // the client has sent its login
        bool sent_a_login = false; // ever (a client that waits to log in again keeps its link)
        bool connecting = false;   // the room server is being reached
        std::vector<std::vector<uint8_t>> pending;          // frames that wait for the room server
        size_t upstream_tries = 0;                          // room servers tried for this login
        std::optional<std::pair<uint32_t, uint32_t>> login; // (user, room) of the last login
        std::optional<LinkLiveness> upstream_alive;         // once the room server keeps the link alive
        // Until the room server answers the login that opened its link: the keepalives start only after
        // the answer, so a room server that freezes before it would otherwise hold the login for good.
        std::unique_ptr<asio::steady_timer> answer_timer;
    };
    // The token the room server gave the last session, kept across the client's reconnects.
    struct HeldToken {
        uint32_t user = 0, room = 0;
        std::array<uint8_t, 16> token{};
    };
    void opened(room::ConnId id, const std::shared_ptr<FramedSocket>& socket) override;
    void on_frame(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size) override;
    bool waiting_for_login(room::ConnId id) const override;
    // A client that waits to log in again after a failed login gives its place too.
    bool may_give_way(room::ConnId id) const override;
    bool logged_in(room::ConnId id) const override;
    void dropped(room::ConnId id) override;
    void dropped_all() override;
    void from_room_server(room::ConnId id, uint16_t type, const uint8_t* data, uint32_t size);
    void connect_upstream(room::ConnId id);
    void upstream_failed(room::ConnId id, const std::string& why);
    void upstream_ready(room::ConnId id, asio::ip::tcp::socket socket);
    // The room server has not answered the login within the link time-out: it is given up like one that
    // cannot be reached, and the client's login is answered with a failure it retries by itself.
    void login_unanswered(room::ConnId id);
    // The room server's keepalive: the first one says that it keeps the link alive, and this end then does
    // too.
    void keepalive_heard(Client& c, const uint8_t* data, uint32_t size);
    // The client links' keepalives, then the room servers': keepalives that are due go out, silent room
    // servers are given up; how long until the next tick is wanted (0: none).
    int tick_keepalives() override;
    const Upstream& upstream_at(size_t i) const {
        return options_.room_servers[i % options_.room_servers.size()];
    }
    void next_upstream() { upstream_next_ = (upstream_next_ + 1) % options_.room_servers.size(); }
    // A frame from the client as it goes to the room server. A login is written anew: with this service's
    // token when it is a reconnect of the session that holds it, and never with bytes of the client's beyond
    // the login.
    std::vector<uint8_t> to_upstream(Client& c, uint16_t type, const uint8_t* data, size_t size);

    Options options_;
    RoomConnections::Tap tap_;
    std::unordered_map<room::ConnId, Client> clients_;
    size_t upstream_next_ = 0; // the room server tried first at the next login
    KindLimiter limiter_;
    std::optional<HeldToken> token_;
};
