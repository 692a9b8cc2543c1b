// The room server: many connections from local services and peers into rooms, this process's own or (with a
// backend) rooms shared with other room servers.
// Threads: the server is made, started, stopped and destroyed on the thread that runs the given I/O context
// (or before and after it runs); that thread accepts, and serves the first room thread's rooms. The own rooms
// can be spread over more threads (`threads`): rooms are independent, so each room lives on one thread,
// chosen from its id, with its members' connections, its hub and everything sent in it; a connection goes
// there once its login names the room (LoginLobby reads the login on the accepting thread). What the threads
// share is only the seats (one a user in the whole process, in a thread-safe book) and the log.
#pragma once

#include <asio.hpp>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "service/listener.h"
#include "service/login_lobby.h"
#include "service/room_backend.h"
#include "service/room_connections.h"

struct RoomServerOptions {
    asio::ip::tcp::endpoint listen;
    ConnectionLimits limits;
    // The rooms of this process (logs also go to `hub.log` when set).
    room::HubConfig hub;
    // Where the connections go instead of this process's own rooms (a cluster node); the server attaches
    // itself to it at construction.
    std::shared_ptr<room::RoomBackend> backend;
    // Threads that serve the own rooms; 1: all on the given I/O context. With a backend always 1. With
    // more, `hub.log` (when set) is called from each of them.
    int threads = 1;
};

class RoomServer {
public:
    RoomServer(asio::io_context& io, RoomServerOptions options);
    ~RoomServer();

    // Binds and starts accepting. False (with a log line) when the address cannot be used.
    bool start();
    uint16_t port() const { return listener_.port(); }
    void stop();

private:
    // The rooms of one further thread: its I/O context, hub and connections, touched only on that thread
    // once it runs.
    struct RoomThread {
        asio::io_context io{1};
        std::shared_ptr<room::HubBackend> hub;
        std::unique_ptr<RoomConnections> connections;
        std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work; // while it serves
        std::thread thread;
    };
    void on_accepted(asio::ip::tcp::socket socket);
    void log(const std::string& line) const;
    void log_unauthenticated(const std::string& line);
    // Which room thread serves a room: 0 is the accepting thread's own.
    size_t thread_of(uint32_t room) const;
    // A login read by the lobby goes to its room's thread (accepting thread).
    void hand_over(LoginLobby::Arrival arrival);
    // ... and is taken there (that thread).
    static void arrive(asio::io_context& io, RoomConnections& connections, LoginLobby::Arrival arrival);
    // A seat taken over from a session served by room thread `index`: that thread pushes it out (any thread).
    void push_out(int index, room::ConnId conn);

    RoomServerOptions options_;
    std::shared_ptr<room::SeatBook> seats_;
    // The one limit on lines about connections without a login, for every room thread and the lobby.
    std::shared_ptr<UnauthenticatedLog> unauthenticated_log_ = std::make_shared<UnauthenticatedLog>();
    asio::io_context& io_;
    Listener listener_;
    std::shared_ptr<room::HubBackend> hub_; // the own rooms, without a backend
    RoomConnections connections_;
    std::vector<std::unique_ptr<RoomThread>> more_; // room threads 1 and on
    std::unique_ptr<LoginLobby> lobby_;             // with more than one room thread
    bool stopped_ = false;
};
