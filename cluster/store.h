// The node's connection to Redis (hiredis, synchronous, with short time limits). A lost connection is made
// again at the next use, at most twice a second, so a Redis that is down costs a caller little.
// Threads: one thread uses a Store (the node's I/O thread); `velmor --status` uses its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct redisContext;

namespace cluster {

struct Reply {
    enum Type { Nil, String, Integer, Status, Error, Array } type = Nil;
    std::string str; // String, Status, Error
    long long integer = 0;
    std::vector<Reply> elements;
    bool is_nil() const { return type == Nil; }
};

class Store {
public:
    Store(std::string host, uint16_t port, int timeout_ms = 300);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Parses redis://HOST:PORT (or HOST:PORT).
    static bool parse_url(const std::string& url, std::string* host, uint16_t* port);

    // Connected now (making the connection when it is time to try again).
    bool available();
    // One command; nothing when Redis cannot be reached (the connection is then dropped).
    std::optional<Reply> command(const std::vector<std::string>& args);
    // Several commands in one round trip; nothing when any part failed on the way.
    std::optional<std::vector<Reply>> pipeline(const std::vector<std::vector<std::string>>& commands);
    // Times the connection was (re)made.
    uint64_t connects() const { return connects_; }

private:
    void drop();
    std::string host_;
    uint16_t port_;
    int timeout_ms_;
    redisContext* ctx_ = nullptr;
    int64_t next_try_ms_ = 0;
    uint64_t connects_ = 0;
};

} // namespace cluster
