// The TCP client component: one framed connection to the local service, with its own I/O thread.
// Inbound packets reach server_event_handler::OnServerProc on that thread; a lost connection reaches it once
// as type 8 without payload. Closing the connection from this side reports nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace asio {
class io_context;
}

#include "components/link_transport.h"

class FramedSocket;

// The inbound side, implemented by the main dialog.
class server_event_handler {
public:
    virtual ~server_event_handler() = default;
    virtual int OnServerProc(uint16_t type, const void* data, uint32_t length) = 0;
    virtual int OnServerIdle() { return 0; }
};

// A send buffer: room for the frame header and a payload. Owned by the caller until send_packet.
struct __SndBuf;

class tcpclient : public ILinkTransport {
public:
    static constexpr uint16_t kLinkLost = 8;
    // Video frames are dropped first when the service does not take packets fast enough.
    static constexpr uint16_t kDroppableType = 10;

    tcpclient();
    ~tcpclient() override;
    tcpclient(const tcpclient&) = delete;
    tcpclient& operator=(const tcpclient&) = delete;

    // Before init(). The handler is called on the I/O thread until close() (or the destructor) has returned,
    // so it must outlive that call.
    void set_handler(server_event_handler* handler) override;

    // Starts the I/O thread. False when networking cannot start.
    bool init() override;

    // Connects to ip (network byte order) and port, dropping any earlier connection first. True once
    // connected; a refused connection is tried again, and it gives up after the connect time-out (3 s) so the
    // calling thread is never held long.
    bool changeip(uint32_t ip, uint16_t port) override;

    bool connected() const override;

    // A send buffer for a payload of `size` bytes (at most 1 MiB - 2); the second form also gives the
    // payload.
    __SndBuf* get_send_buff(uint32_t size);
    __SndBuf* get_send_buff(uint32_t size, void** payload);

    // Sends and consumes the buffer. Thread-safe; the packets of one thread keep their order. False when not
    // connected or the packet was dropped.
    bool send_packet(__SndBuf* buffer, uint16_t type);
    // The same in one step.
    bool send(uint16_t type, const uint8_t* payload, size_t size) override;

    // Drops the connection; the object stays usable for changeip.
    void close_socket() override;

    // Final shut-down: the connection and the I/O thread.
    void close() override;

    void set_connect_timeout_ms(int ms) { connect_timeout_ms_ = ms; }
    void set_send_cap(size_t bytes) { send_cap_ = bytes; }

private:
    std::shared_ptr<FramedSocket> current() const;
    void attach(std::shared_ptr<FramedSocket> framed);

    std::unique_ptr<asio::io_context> io_;
    std::thread thread_;
    server_event_handler* handler_ = nullptr;
    mutable std::mutex mutex_;
    std::shared_ptr<FramedSocket> socket_;
    int connect_timeout_ms_ = 3000;
    size_t send_cap_;
};
