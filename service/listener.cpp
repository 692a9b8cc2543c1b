// Taking connections (see listener.h).
#include "service/listener.h"

std::optional<Eviction> eviction_for(const std::vector<WaitingConnection>& waiting,
                                     const asio::ip::address& from, const ConnectionLimits& limits) {
    size_t from_there = 0;
    std::optional<room::ConnId> oldest, oldest_from_there;
    for (const WaitingConnection& w : waiting) {
        if (!oldest || w.id < *oldest)
            oldest = w.id;
        if (w.address == from) {
            ++from_there;
            if (!oldest_from_there || w.id < *oldest_from_there)
                oldest_from_there = w.id;
        }
    }
    if (from_there >= limits.max_unauthenticated_per_address && oldest_from_there)
        return Eviction{*oldest_from_there,
                        std::to_string(from_there) + " from " + from.to_string() + " wait for their login"};
    if (waiting.size() >= limits.max_unauthenticated && oldest)
        return Eviction{*oldest, std::to_string(waiting.size()) + " wait for their login"};
    return std::nullopt;
}

Listener::Listener(asio::io_context& io, LogLine log) : acceptor_(io), retry_(io), log_(std::move(log)) {}

bool Listener::start(const asio::ip::tcp::endpoint& at, const std::string& note, Accepted accepted) {
    accepted_ = std::move(accepted);
    std::error_code ec;
    acceptor_.open(at.protocol(), ec);
    if (!ec)
        acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor_.bind(at, ec);
    if (!ec)
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        log_("cannot listen on " + at.address().to_string() + ":" + std::to_string(at.port()) + ": " +
             ec.message());
        return false;
    }
    log_("listening on " + at.address().to_string() + ":" + std::to_string(port()) + note);
    accept_next();
    return true;
}

uint16_t Listener::port() const {
    std::error_code ec;
    return acceptor_.local_endpoint(ec).port();
}

void Listener::close() {
    std::error_code ec;
    acceptor_.close(ec);
    retry_.cancel();
}

void Listener::accept_next() {
    acceptor_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) {
            // Out of descriptors (or another passing failure): say so, and wait a moment rather than spin.
            if (limiter_.allow("accept"))
                log_("cannot accept a connection: " + ec.message());
            retry_.expires_after(std::chrono::milliseconds(100));
            retry_.async_wait([this](std::error_code e) {
                if (!e)
                    accept_next();
            });
            return;
        }
        accepted_(std::move(socket));
        accept_next();
    });
}
