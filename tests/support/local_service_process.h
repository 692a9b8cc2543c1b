// A user's local service (velmor) as a real process in a folder of its own: relaying to a room server on the
// loopback, or (room port 0) hosting its own room. It listens on a port the system picks and reports it (its
// "listening on" line); the constructor waits for that line. `env` adds to its environment (for example
// PULSE_SOURCE and PULSE_SINK, its sound devices). Ended with the object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "reporting_process.h"
#include "room_peer.h"
#include "temp_dir.h"

class LocalServiceProcess {
public:
    LocalServiceProcess(uint16_t room_port, const std::vector<std::string>& env)
        : LocalServiceProcess(room_port ? "127.0.0.1:" + std::to_string(room_port) : std::string(), env) {}
    // Relaying to the room servers listed in `servers` ("HOST:PORT,HOST:PORT", tried in turn);
    // `room_settings` are further lines of the [room] section ("link_timeout_ms=2000\n").
    LocalServiceProcess(const std::string& servers, const std::vector<std::string>& env,
                        const std::string& room_settings = "") {
        std::string settings = "[network]\nport=any\n";
        if (!servers.empty() || !room_settings.empty())
            settings += "[room]\n" + (servers.empty() ? "" : "server=" + servers + "\n") + room_settings;
        write_file(dir_.file("user.txt"), settings);
        process_ = std::make_unique<ReportingProcess>(std::string(QUORIN_INSTALL_DIR) + "/velmor",
                                                      std::vector<std::string>{}, dir_.path().string(), env);
        port_ = process_->wait_for_port();
    }
    LocalServiceProcess(const LocalServiceProcess&) = delete;
    LocalServiceProcess& operator=(const LocalServiceProcess&) = delete;
    // 0 when the service did not report its port (it did not start).
    uint16_t port() const { return port_; }
    pid_t pid() const { return process_->pid(); }
    // Waits up to `timeout_ms` for the service to end: its exit status, or nothing when it still runs.
    std::optional<int> wait(int timeout_ms) { return process_->wait(timeout_ms); }
    // Everything the service wrote to its standard error so far (its log lines).
    std::string output() const { return process_->output(); }

private:
    TempDir dir_;
    std::unique_ptr<ReportingProcess> process_;
    uint16_t port_ = 0;
};
