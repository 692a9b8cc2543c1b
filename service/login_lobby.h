// Connections of a room server whose rooms are spread over several threads, from their accept to their
// login. A connection's room is known only from its login, so the first frame is read here, on the listener's
// thread, exactly (nothing past it is read), and the connection is then handed over with that frame to the
// thread that serves the login's room, where it goes on as if it had been accepted there. Until then the
// limits on connections that have not logged in hold here: caps in all and per address (the oldest waiting
// one gives way to a newcomer) and the time limit. A first frame that is not a login closes the connection,
// as a room would. Every call, the handover's included, is made on the listener's I/O thread.
#pragma once

#include <asio.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "service/listener.h"

class LoginLobby {
public:
    // A connection whose first frame was a login: its socket (released from this thread's I/O context, to
    // be assigned to another), where it comes from, and the frame.
    struct Arrival {
        int fd = -1;
        asio::ip::tcp::endpoint remote;
        uint16_t type = 0;
        std::vector<uint8_t> payload;
        uint32_t room = 0;
    };
    using Handover = std::function<void(Arrival)>;

    LoginLobby(asio::io_context& io, ConnectionLimits limits, LogLine unauthenticated, Handover handover);
    ~LoginLobby();
    LoginLobby(const LoginLobby&) = delete;
    LoginLobby& operator=(const LoginLobby&) = delete;

    void add(asio::ip::tcp::socket socket);
    // Closes every connection still waiting for its login.
    void close_all();
    size_t waiting() const { return waiting_.size(); }

private:
    struct Waiting {
        std::shared_ptr<asio::ip::tcp::socket> socket;
        std::shared_ptr<asio::steady_timer> timer;
        asio::ip::tcp::endpoint remote;
        std::array<uint8_t, 6> header{};
        std::vector<uint8_t> payload;
    };
    void read_header(uint64_t id);
    void read_payload(uint64_t id);
    // After a read of connection `id`: the connection when it still waits and the read went well; otherwise
    // nothing (it was closed before, or is closed now with the reason).
    Waiting* after_read(uint64_t id, std::error_code ec);
    void close(uint64_t id, const std::string& why);

    asio::io_context& io_;
    ConnectionLimits limits_;
    LogLine unauthenticated_;
    Handover handover_;
    std::map<uint64_t, Waiting> waiting_; // by id, which grows with every connection
    uint64_t next_id_ = 1;
};
