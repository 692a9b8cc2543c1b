// The networking around the room hub. One I/O thread serves every connection.
//  - Room server: many connections into the hub.
//  - Local service, embedded room: one client at a time into the hub.
//  - Local service, relay: one client at a time, each packet passed on unchanged to a room server and back.
// The local service ends a short while after its client's link closed, and at once on SIGTERM or SIGINT.
#pragma once

#include <asio.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "service/room_backend.h"
#include "service/room_hub.h"
#include "voice/voice_session.h"

class FramedSocket;

struct ServerOptions {
    asio::ip::tcp::endpoint listen;
    size_t max_clients = SIZE_MAX;
    // Stop this long after the last client left when no other came; negative: never.
    int exit_when_idle_ms = -1;
    // Stop when no client has come this long after start; negative: never.
    int exit_if_unused_ms = -1;
    // Relay mode: the room server, by name or address, reached again at every login of the client. With
    // several (the nodes of a cluster), they are tried in turn, starting after the one that last failed.
    struct Upstream {
        std::string host;
        uint16_t port = 0;
    };
    std::optional<Upstream> relay_to;
    std::vector<Upstream> relay_alternates; // further room servers after relay_to
    int upstream_connect_timeout_ms = 5000;
    size_t send_cap = 4u << 20;
    // A connection that has not logged in this long after it was made is closed; negative: never. A login is
    // one small frame, sent at once.
    int login_timeout_ms = 5000;
    // Connections that have not logged in yet, in all and from one address. When a new one would pass either
    // cap, the oldest waiting one (from that address, or of all) is closed for it: squatters cannot lock
    // real users out.
    size_t max_unauthenticated = 512;
    size_t max_unauthenticated_per_address = 32;
    // The local service serves only connections of its own user (checked through /proc/net/tcp).
    bool own_user_only = false;
    // The local service captures and plays its user's speech (not the room server).
    bool voice = false;
    voice::VoiceConfig voice_config;
    room::HubConfig hub;
    // Room server: where the connections go instead of this process's own hub (a cluster node); the
    // server attaches itself to it at construction.
    std::shared_ptr<room::RoomBackend> backend;
};

class ServiceServer {
public:
    ServiceServer(asio::io_context& io, ServerOptions options);
    ~ServiceServer();

    // Binds and starts accepting. False (with a log line) when the address cannot be used.
    bool start();
    uint16_t port() const;
    void stop();

private:
    struct Client {
        std::shared_ptr<FramedSocket> socket;
        std::shared_ptr<FramedSocket> upstream;          // relay mode
        std::shared_ptr<asio::steady_timer> login_timer; // hub mode, until the login
        bool login_seen = false;                         // relay mode: the client has sent its login
        bool sent_a_login = false; // relay mode: ever (a client that waits to log in again keeps its link)
        bool connecting = false;   // relay mode: the room server is being reached
        std::vector<std::vector<uint8_t>> pending;  // relay mode: frames that wait for the room server
        size_t upstream_tries = 0;                  // relay mode: room servers tried for this login
        std::unique_ptr<voice::VoiceSession> voice; // local service: the user's speech
        std::optional<std::pair<uint32_t, uint32_t>> login; // relay mode: (user, room) of the last login
    };
    // Relay mode: the token the room server gave the last session, kept across the client's reconnects.
    struct HeldToken {
        uint32_t user = 0, room = 0;
        std::array<uint8_t, 16> token{};
    };
    void accept_next();
    void on_accepted(asio::ip::tcp::socket socket);
    void start_hub_client(room::ConnId id);
    void start_relay_client(room::ConnId id);
    void connect_upstream(room::ConnId id);
    void upstream_failed(room::ConnId id, const std::string& why);
    void upstream_ready(room::ConnId id, asio::ip::tcp::socket socket);
    // Relay mode: the room servers in the order they are tried.
    size_t upstream_count() const { return 1 + options_.relay_alternates.size(); }
    const ServerOptions::Upstream& upstream_at(size_t i) const;
    void deliver(const std::vector<room::Outgoing>& out);
    // Local service: the speech of client `id`, its packets to the room and its failures to the client.
    void start_voice(room::ConnId id);
    void send_voice(room::ConnId id, proto::Bytes payload);
    void microphone_failed(room::ConnId id, const std::string& why);
    void microphone_opened(room::ConnId id);
    // A packet from the room for client `id`: passed on unless it is the service's own (voice).
    bool for_client(Client& c, uint16_t type, const uint8_t* data, size_t size);
    void closed(room::ConnId id, const std::string& why);
    void arm_idle_timer(int ms);
    void arm_login_timer(room::ConnId id);
    void log(const std::string& line) const;
    // A line at most once a second for a kind of event (floods of refused connections, accept errors).
    void log_limited(const std::string& kind, const std::string& line);
    bool accept_allowed(const asio::ip::tcp::socket& socket);
    // Closes a connection that has not logged in, for a newer one.
    void evict(room::ConnId id, const std::string& why);
    // Relay mode: a frame from the client as it goes to the room server. A login is written anew: with this
    // service's token when it is a reconnect of the session that holds it, and never with bytes of the
    // client's beyond the login.
    std::vector<uint8_t> to_upstream(Client& c, uint16_t type, const uint8_t* data, size_t size);

    asio::io_context& io_;
    ServerOptions options_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer idle_timer_;
    room::RoomHub hub_;
    std::shared_ptr<room::RoomBackend> room_;          // options_.backend, or hub_
    std::unordered_map<room::ConnId, Client> clients_; // looked up once per receiver of every packet
    room::ConnId next_id_ = 1;
    size_t upstream_next_ = 0; // relay mode: the room server tried first at the next login
    asio::steady_timer accept_retry_;
    std::map<std::string, std::chrono::steady_clock::time_point> last_logged_;
    std::optional<HeldToken> token_;
};

// Writes a line to standard error and, when logging is set up, to the service's log.
void service_log(const std::string& line);
