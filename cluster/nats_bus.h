// The node's connection to NATS (the C client, libnats). The client keeps reconnecting by itself, also when
// the server is not there at the start, and re-subscribes after a reconnect.
// Threads: every method is called on the node's I/O thread. Messages and connection changes arrive on the
// client's own threads and are handed to the I/O thread through asio::post, in the order they arrived.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct __natsConnection;
struct __natsSubscription;

namespace cluster {

class NatsBus {
public:
    // On the I/O thread; the data is the message's payload.
    using Handler = std::function<void(const std::string& subject, std::vector<uint8_t> data)>;
    struct Counts {
        uint64_t in_msgs = 0, in_bytes = 0, out_msgs = 0, out_bytes = 0, reconnects = 0;
    };

    NatsBus(asio::io_context& io, std::string url, std::string name);
    ~NatsBus();
    NatsBus(const NatsBus&) = delete;
    NatsBus& operator=(const NatsBus&) = delete;

    // Sets the connection up; false (with the reason) only when the URL or the options are unusable. An
    // unreachable server is not a failure: the client goes on trying.
    bool start(std::string* error);
    bool connected() const { return state_->connected.load(); }
    // Called on the I/O thread when the connection goes up or down.
    void on_state(std::function<void(bool connected)> fn) { state_->on_state = std::move(fn); }

    // False when the message was not taken (no connection object, too large, client error).
    bool publish(const std::string& subject, const uint8_t* data, size_t size);
    // A subscription id (0 on failure) and its end.
    uint64_t subscribe(const std::string& subject, Handler handler);
    void unsubscribe(uint64_t id);
    // The largest payload the server takes.
    size_t max_payload() const;
    Counts counts() const;

    // The shared part that outlives the bus while the client's threads may still call in.
    struct State {
        asio::io_context* io = nullptr;
        std::atomic<bool> connected{false};
        std::atomic<bool> alive{true};
        std::function<void(bool)> on_state;   // I/O thread
        std::map<uint64_t, Handler> handlers; // I/O thread
    };

private:
    asio::io_context& io_;
    std::string url_, name_;
    std::shared_ptr<State> state_;
    __natsConnection* conn_ = nullptr;
    struct Sub {
        __natsSubscription* sub = nullptr;
        uint64_t id = 0;
    };
    std::map<uint64_t, Sub> subs_;
    uint64_t next_id_ = 1;
    std::shared_ptr<State>* conn_closure_ = nullptr;
};

} // namespace cluster
