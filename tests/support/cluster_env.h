// A cluster of room servers on this machine for tests: a private nats-server and redis-server on reserved
// loopback ports (in a temporary folder, nothing saved), and room-server nodes (velmor --room-server --node
// ...) started and killed by the test. Everything started here ends with the object.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "temp_dir.h"

// The path of a program in the usual places, or empty.
inline std::string find_program(const std::string& name) {
    for (const char* dir : {"/usr/sbin", "/usr/bin", "/usr/local/bin", "/usr/local/sbin", "/sbin", "/bin"}) {
        const std::string p = std::string(dir) + "/" + name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

class ClusterEnv {
public:
    ClusterEnv()
        : nats_port_(nats_reserved_.port()), redis_port_(redis_reserved_.port()),
          monitor_port_(monitor_reserved_.port()) {
        start_nats();
        start_redis();
    }
    ~ClusterEnv() {
        nodes_.clear();
        stop_nats();
        stop_redis();
    }
    ClusterEnv(const ClusterEnv&) = delete;
    ClusterEnv& operator=(const ClusterEnv&) = delete;

    bool ready() const { return nats_pid_ && redis_pid_; }
    std::string nats_url() const { return "nats://127.0.0.1:" + std::to_string(nats_port_); }
    std::string redis_url() const { return "redis://127.0.0.1:" + std::to_string(redis_port_); }
    uint16_t nats_port() const { return nats_port_; }
    uint16_t redis_port() const { return redis_port_; }
    // nats-server's monitoring port (HTTP: /connz lists every client's messages and bytes).
    uint16_t monitor_port() const { return monitor_port_; }

    void start_nats() {
        nats_pid_ = spawn_process(find_program("nats-server"),
                                  {"-a", "127.0.0.1", "-p", std::to_string(nats_port_), "-m",
                                   std::to_string(monitor_port_), "-l", dir_.file("nats.log")},
                                  dir_.path().string());
        wait_until_listening(nats_port_, 5000);
    }
    void stop_nats() {
        if (nats_pid_)
            terminate_process(nats_pid_);
        nats_pid_ = 0;
    }
    void start_redis() {
        redis_pid_ = spawn_process(find_program("redis-server"),
                                   {"--port", std::to_string(redis_port_), "--bind", "127.0.0.1", "--save",
                                    "", "--appendonly", "no", "--dir", dir_.path().string(), "--logfile",
                                    dir_.file("redis.log")},
                                   dir_.path().string());
        wait_until_listening(redis_port_, 5000);
    }
    void stop_redis() {
        resume_redis();
        if (redis_pid_)
            terminate_process(redis_pid_);
        redis_pid_ = 0;
    }
    // SIGSTOP: Redis still takes connections (the kernel does) and answers nothing, as a Redis that hangs.
    void pause_redis() {
        if (redis_pid_ && kill(redis_pid_, SIGSTOP) == 0)
            redis_paused_ = true;
    }
    void resume_redis() {
        if (redis_pid_ && redis_paused_)
            kill(redis_pid_, SIGCONT);
        redis_paused_ = false;
    }

    // Starts node `name` (velmor --room-server on a free port); `directory` is the user directory's text.
    RoomServerProcess& start_node(const std::string& name, const std::string& directory = "",
                                  const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--node", name, "--cluster", nats_url(), "--store", redis_url()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto node = std::make_unique<RoomServerProcess>("velmor", directory, args);
        wait_until_listening(node->port(), 5000);
        RoomServerProcess& ref = *node;
        nodes_[name] = std::move(node);
        return ref;
    }
    RoomServerProcess& node(const std::string& name) { return *nodes_.at(name); }
    // kill -9, as a machine that dies.
    void kill_node(const std::string& name) {
        kill(nodes_.at(name)->pid(), SIGKILL);
        nodes_.erase(name);
    }

private:
    TempDir dir_;
    // NATS and Redis are stopped and started again on the same ports (both listen with SO_REUSEADDR).
    const ReservedPort nats_reserved_, redis_reserved_, monitor_reserved_;
    uint16_t nats_port_, redis_port_, monitor_port_;
    pid_t nats_pid_ = 0, redis_pid_ = 0;
    bool redis_paused_ = false;
    std::map<std::string, std::unique_ptr<RoomServerProcess>> nodes_;
};
