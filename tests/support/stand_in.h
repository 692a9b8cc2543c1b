// A stand-in for the local service: accepts the client's link and reads the packets it sends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "room_peer.h"
#include "wire/framing.h"

// A stand-in service: accepts the link and reads what the client sends.
class StandIn {
public:
    StandIn() { acceptor_ = listen_on_loopback(&port_); }
    ~StandIn() {
        drop();
        close(acceptor_);
    }
    uint16_t port() const { return port_; }
    // Accepts one connection and returns the next packet on it.
    std::optional<Packet> accept_and_read() {
        accept_only();
        return read(5000);
    }
    // Accepts the next connection, waiting at most `timeout_ms`: a client that never comes fails the test
    // (the reads that follow find nothing) instead of hanging it.
    bool accept_only(int timeout_ms = 10000) {
        drop();
        decoder_ = framing::Decoder();
        inbox_.clear();
        pollfd p{acceptor_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0)
            return false;
        conn_ = accept(acceptor_, nullptr, nullptr);
        return conn_ >= 0;
    }
    // The next packet on the accepted connection, or nothing within `timeout_ms`.
    std::optional<Packet> read(int timeout_ms) {
        uint8_t buf[4096];
        while (inbox_.empty()) {
            pollfd p{conn_, POLLIN, 0};
            if (poll(&p, 1, timeout_ms) <= 0)
                return std::nullopt;
            ssize_t n = recv(conn_, buf, sizeof buf, 0);
            if (n <= 0)
                return std::nullopt;
            decoder_.feed(buf, size_t(n), [&](uint16_t t, const uint8_t* data, uint32_t size) {
                inbox_.push_back(Packet{t, std::vector<uint8_t>(data, data + size)});
            });
        }
        Packet p = inbox_.front();
        inbox_.erase(inbox_.begin());
        return p;
    }
    void drop() {
        if (conn_ >= 0)
            close(conn_);
        conn_ = -1;
    }

private:
    int acceptor_ = -1;
    int conn_ = -1;
    framing::Decoder decoder_;
    std::vector<Packet> inbox_;
    uint16_t port_ = 0;
};
