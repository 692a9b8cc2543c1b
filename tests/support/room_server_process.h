// A real room server (velmor --room-server) on the loopback, run from a copy of the built program under a
// name of the test's choice, with an optional user directory. It listens on port 0 and reports the port it
// bound (its "listening on" line); the constructor waits for that line. Ended with the object.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "reporting_process.h"
#include "room_peer.h"
#include "temp_dir.h"

class RoomServerProcess {
public:
    // `program` is the copy's name: a test next to a client that looks for "velmor" by name picks another.
    explicit RoomServerProcess(const std::string& program = "velmor", const std::string& directory = "",
                               const std::vector<std::string>& extra_args = {}) {
        std::filesystem::copy_file(std::string(QUORIN_INSTALL_DIR) + "/velmor", dir_.path() / program);
        std::vector<std::string> args{"--room-server", "--listen", "127.0.0.1:0"};
        if (!directory.empty()) {
            write_file(dir_.file("users.txt"), directory);
            args.insert(args.end(), {"--directory", dir_.file("users.txt")});
        }
        args.insert(args.end(), extra_args.begin(), extra_args.end());
        process_ = std::make_unique<ReportingProcess>(dir_.file(program), args, dir_.path().string());
        port_ = process_->wait_for_port();
    }
    RoomServerProcess(const RoomServerProcess&) = delete;
    RoomServerProcess& operator=(const RoomServerProcess&) = delete;
    // 0 when the server did not report its port (it did not start).
    uint16_t port() const { return port_; }
    pid_t pid() const { return process_->pid(); }
    // Everything the server wrote to its standard error (its log) so far.
    std::string output() const { return process_->output(); }

private:
    TempDir dir_;
    std::unique_ptr<ReportingProcess> process_;
    uint16_t port_ = 0;
};
