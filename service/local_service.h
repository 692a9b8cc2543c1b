// The local service: it serves the one client of its own user on this machine, captures and plays that
// user's speech, and takes the client into a room of its own or relays it to a room server. It ends a short
// while after its client's link closed, or when no client came at all. All calls are made on the I/O thread;
// the voice threads hand over to it, except the capture thread's speech for a room server, which it writes
// into that connection itself while the connection is open and idle (VoiceRoute).
#pragma once

#include <asio.hpp>

#include <memory>
#include <mutex>
#include <unordered_map>

#include "service/listener.h"
#include "service/relay.h"
#include "service/room_backend.h"
#include "service/room_connections.h"
#include "voice/voice_session.h"

struct LocalServiceOptions {
    asio::ip::tcp::endpoint listen;
    size_t max_clients = 1;
    // Stop this long after the last client left when no other came; negative: never.
    int exit_when_idle_ms = -1;
    // Stop when no client has come this long after start; negative: never.
    int exit_if_unused_ms = -1;
    // The room servers to relay to, by name or address, reached again at every login of the client; none:
    // the service hosts the room itself.
    std::vector<Relay::Upstream> room_servers;
    int upstream_connect_timeout_ms = 5000;
    // A room server silent this long is given up and the client sees its link lost; 0 or negative: never.
    int upstream_link_timeout_ms = -1;
    ConnectionLimits limits;
    // Serves only connections of its own user (checked through /proc/net/tcp).
    bool own_user_only = false;
    // Captures and plays its user's speech.
    bool voice = false;
    voice::VoiceConfig voice_config;
    // Its own room, when it hosts it (logs of the hub also go to `hub.log` when set).
    room::HubConfig hub;
};

class LocalService {
public:
    LocalService(asio::io_context& io, LocalServiceOptions options);
    ~LocalService();

    // Binds and starts accepting. False (with a log line) when the address cannot be used.
    bool start();
    uint16_t port() const { return listener_.port(); }
    void stop();

private:
    void on_accepted(asio::ip::tcp::socket socket);
    bool own_user(const asio::ip::tcp::socket& socket, const asio::ip::tcp::endpoint& remote);
    void arm_idle_timer(int ms);
    void gone(room::ConnId id, ClientLinks::Gone why);
    // The voice of client `id`: its packets to the room and its failures to the client.
    void start_voice(room::ConnId id);
    voice::VoiceSession* voice_of(room::ConnId id) const;
    bool from_client(room::ConnId id, uint16_t type, const uint8_t* data, size_t size);
    bool to_client(room::ConnId id, uint16_t type, const uint8_t* data, size_t size);
    void microphone_failed(room::ConnId id, const std::string& why);
    void microphone_opened(room::ConnId id);
    void log(const std::string& line) const;
    void log_unauthenticated(const std::string& line);

    // Where the capture thread's speech goes: straight into the room server's connection, once the I/O
    // thread has named it and while nothing handed to the I/O thread still waits; otherwise through the I/O
    // thread, which then names the connection (none when the room is this process's own). A frame then costs
    // the I/O thread no wake-up. Thread-safe.
    struct VoiceRoute {
        std::mutex mutex;
        std::shared_ptr<FramedSocket> room;
        int handed_over = 0; // frames posted to the I/O thread and not yet passed on
        // Capture thread: false when the frame is to be handed to the I/O thread (counted as handed over).
        bool send(const proto::Bytes& payload);
        // I/O thread, after a handed-over frame was passed on: the connection for the next ones.
        void passed_on(std::shared_ptr<FramedSocket> to);
    };

    asio::io_context& io_;
    LocalServiceOptions options_;
    Listener listener_;
    asio::steady_timer idle_timer_;
    std::shared_ptr<room::HubBackend> room_; // its own room, when it hosts it
    UnauthenticatedLog unauthenticated_;     // when it relays
    std::unique_ptr<ClientLinks> links_;
    std::unordered_map<room::ConnId, std::unique_ptr<voice::VoiceSession>> voices_;
};
