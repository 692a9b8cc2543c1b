// The node's connection to Redis (hiredis, synchronous, with short time limits). A lost connection is made
// again at the next use, at most twice a second, so a Redis that is down costs a caller little.
// Threads: a Store is used by one thread at a time: the AsyncStore's worker, or `velmor --status`.
// AsyncStore runs the commands of the node's I/O thread on a thread of its own (see below).
#pragma once

#include <asio.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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

// Redis for the node's I/O thread, which must never wait for it: a slow or stopped Redis would stop every
// room of the node. Jobs (a few commands sent in one round trip) run one after another on the store's own
// thread, in the order they were queued, so every write of the node (a room's presence, its lease) reaches
// Redis in that order; their answers come back to the I/O thread in the same order. A job still waiting at
// its deadline is answered with nothing without being sent: Redis counts as away for it.
// Threads: start, run, run_and_wait, up and waiting on the I/O thread; the commands on the store's thread;
// every `done` on the I/O thread (never after the AsyncStore is gone).
class AsyncStore {
public:
    using Replies = std::optional<std::vector<Reply>>;
    using Done = std::function<void(Replies)>;
    using Commands = std::vector<std::vector<std::string>>;

    AsyncStore(asio::io_context& io, std::string host, uint16_t port, int timeout_ms);
    ~AsyncStore();
    AsyncStore(const AsyncStore&) = delete;
    AsyncStore& operator=(const AsyncStore&) = delete;

    void start();
    // Queues a job; `done` (may be empty) gets the replies, or nothing when Redis could not be asked or did
    // not answer before `wait_ms` from now.
    void run(Commands commands, Done done, int wait_ms);
    // Queues a job and waits for its replies, at most `wait_ms` (for a node that is ending).
    Replies run_and_wait(Commands commands, int wait_ms);
    // Whether the last job that was sent got its answer.
    bool up() const { return up_.load(); }
    size_t waiting() const;
    // More jobs than this waiting: the new ones are answered with nothing at once.
    static constexpr size_t kMaxWaiting = 20000;

private:
    struct Job {
        Commands commands;
        Done done;
        std::shared_ptr<std::promise<Replies>> waiter;
        int64_t deadline_ms = 0;
    };
    void loop();
    void answer(Job& job, Replies replies);

    asio::io_context& io_;
    Store store_; // the worker's alone
    std::shared_ptr<std::atomic<bool>> alive_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::atomic<bool> up_{false};
    std::thread thread_;
};

} // namespace cluster
