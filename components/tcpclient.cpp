// The TCP client component (see tcpclient.h).
#include "components/tcpclient.h"

#include <arpa/inet.h>

#include <asio.hpp>

#include <algorithm>
#include <cstring>
#include <future>

#include "components/framed_socket.h"
#include "wire/framing.h"

struct __SndBuf {
    std::vector<uint8_t> frame; // header + payload
};

namespace {
using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;
}

tcpclient::tcpclient() : send_cap_(FramedSocket::kDefaultSendCap) {}

tcpclient::~tcpclient() {
    close();
}

void tcpclient::set_handler(server_event_handler* handler) {
    handler_ = handler;
}

bool tcpclient::init() {
    if (io_)
        return true;
    try {
        io_ = std::make_unique<asio::io_context>(1);
        thread_ = std::thread([io = io_.get()] {
            WorkGuard guard(io->get_executor());
            io->run();
        });
    } catch (const std::exception&) {
        io_.reset();
        return false;
    }
    return true;
}

bool tcpclient::changeip(uint32_t ip, uint16_t port) {
    if (!io_)
        return false;
    close_socket();

    // A service that was just started may not listen yet: a refused connection is tried again until the
    // time-out.
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(connect_timeout_ms_);
    asio::ip::tcp::endpoint endpoint(asio::ip::address_v4(ntohl(ip)), port);
    for (;;) {
        auto socket = std::make_shared<asio::ip::tcp::socket>(*io_);
        auto done = std::make_shared<std::promise<std::error_code>>();
        std::future<std::error_code> result = done->get_future();
        socket->async_connect(endpoint, [done](std::error_code ec) { done->set_value(ec); });
        if (result.wait_until(deadline) != std::future_status::ready) {
            asio::post(*io_, [socket] {
                std::error_code ignored;
                socket->close(ignored);
            });
            result.wait();
            return false;
        }
        const std::error_code ec = result.get();
        if (!ec) {
            attach(std::make_shared<FramedSocket>(std::move(*socket), send_cap_));
            return true;
        }
        if (ec != asio::error::connection_refused || clock::now() + std::chrono::milliseconds(10) >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void tcpclient::attach(std::shared_ptr<FramedSocket> framed) {
    // The connection is stored before reading starts: a peer that closes at once is then the current
    // connection when its loss is reported, so the loss is not taken for an old connection's and dropped.
    {
        std::lock_guard lock(mutex_);
        socket_ = framed;
    }
    std::weak_ptr<FramedSocket> weak = framed;
    framed->start(
        [this](uint16_t type, const uint8_t* p, uint32_t n) {
            if (handler_)
                handler_->OnServerProc(type, p, n);
        },
        [this, weak](const std::string&) {
            // Only the connection in use reports its loss.
            if (current() == weak.lock() && handler_)
                handler_->OnServerProc(kLinkLost, nullptr, 0);
        });
}

std::shared_ptr<FramedSocket> tcpclient::current() const {
    std::lock_guard lock(mutex_);
    return socket_;
}

bool tcpclient::connected() const {
    auto s = current();
    return s && s->is_open();
}

__SndBuf* tcpclient::get_send_buff(uint32_t size) {
    if (size > framing::kMaxPayload)
        return nullptr;
    auto* b = new __SndBuf;
    b->frame.assign(framing::kHeaderSize + size, 0);
    return b;
}

__SndBuf* tcpclient::get_send_buff(uint32_t size, void** payload) {
    __SndBuf* b = get_send_buff(size);
    if (payload)
        *payload = b ? b->frame.data() + framing::kHeaderSize : nullptr;
    return b;
}

bool tcpclient::send_packet(__SndBuf* buffer, uint16_t type) {
    std::unique_ptr<__SndBuf> owned(buffer);
    if (!owned)
        return false;
    auto s = current();
    if (!s)
        return false;
    framing::write_header(owned->frame.data(), type, uint32_t(owned->frame.size() - framing::kHeaderSize));
    return s->send_frame(std::move(owned->frame), type == kDroppableType);
}

bool tcpclient::send(uint16_t type, const uint8_t* payload, size_t size) {
    void* p = nullptr;
    __SndBuf* b = get_send_buff(uint32_t(std::min<size_t>(size, framing::kMaxPayload + 1)), &p);
    if (!b)
        return false;
    if (size)
        std::memcpy(p, payload, size);
    return send_packet(b, type);
}

void tcpclient::close_socket() {
    std::shared_ptr<FramedSocket> s;
    {
        std::lock_guard lock(mutex_);
        s.swap(socket_);
    }
    if (s)
        s->close();
}

void tcpclient::close() {
    close_socket();
    if (io_) {
        io_->stop();
        if (thread_.joinable())
            thread_.join();
        io_.reset();
    }
}
