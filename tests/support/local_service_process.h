// A user's local service (velmor) as a real process in a folder of its own, on a free port: relaying to a
// room server on the loopback, or (room port 0) hosting its own room. `env` adds to its environment (for
// example PULSE_SOURCE and PULSE_SINK, its sound devices). Ended with the object.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"
#include "room_peer.h"
#include "temp_dir.h"

class LocalServiceProcess {
public:
    LocalServiceProcess(uint16_t room_port, const std::vector<std::string>& env)
        : LocalServiceProcess(room_port ? "127.0.0.1:" + std::to_string(room_port) : std::string(), env) {}
    // Relaying to the room servers listed in `servers` ("HOST:PORT,HOST:PORT", tried in turn).
    LocalServiceProcess(const std::string& servers, const std::vector<std::string>& env) {
        std::string settings = "[network]\nport=" + std::to_string(port_) + "\n";
        if (!servers.empty())
            settings += "[room]\nserver=" + servers + "\n";
        write_file(dir_.file("user.txt"), settings);
        pid_ = spawn_process(std::string(QUORIN_INSTALL_DIR) + "/velmor", {}, dir_.path().string(), env);
    }
    ~LocalServiceProcess() { terminate_process(pid_); }
    LocalServiceProcess(const LocalServiceProcess&) = delete;
    LocalServiceProcess& operator=(const LocalServiceProcess&) = delete;
    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }

private:
    TempDir dir_;
    uint16_t port_ = free_port();
    pid_t pid_ = 0;
};
