// What the session needs of a packet link: connect, send one typed packet, drop the connection. The TCP
// client component implements it; tests pass a double, so the session logic runs without a socket.
#pragma once

#include <cstddef>
#include <cstdint>

class server_event_handler;

class ILinkTransport {
public:
    virtual ~ILinkTransport() = default;
    virtual void set_handler(server_event_handler* handler) = 0;
    // Starts the transport's thread. False when networking cannot start.
    virtual bool init() = 0;
    // Connects to ip (network byte order) and port, dropping any earlier connection first.
    virtual bool changeip(uint32_t ip, uint16_t port) = 0;
    virtual bool connected() const = 0;
    // Sends one packet; the payload is copied. False when not connected or the packet was dropped.
    virtual bool send(uint16_t type, const uint8_t* payload, size_t size) = 0;
    // Drops the connection without reporting its loss; the transport stays usable for changeip.
    virtual void close_socket() = 0;
    // Final shut-down.
    virtual void close() = 0;
};
