// A real room server (velmor --room-server) on a free loopback port, run from a copy of the built program
// under a name of the test's choice, with an optional user directory. Ended with the object.
#pragma once

#include <filesystem>
#include <string>

#include "platform/process.h"
#include "room_peer.h"
#include "temp_dir.h"

class RoomServerProcess {
public:
    // `program` is the copy's name: a test next to a client that looks for "velmor" by name picks another.
    explicit RoomServerProcess(const std::string& program = "velmor", const std::string& directory = "",
                               const std::vector<std::string>& extra_args = {})
        : port_(free_port()) {
        std::filesystem::copy_file(std::string(QUORIN_INSTALL_DIR) + "/velmor", dir_.path() / program);
        std::vector<std::string> args{"--room-server", "--listen", "127.0.0.1:" + std::to_string(port_)};
        if (!directory.empty()) {
            write_file(dir_.file("users.txt"), directory);
            args.insert(args.end(), {"--directory", dir_.file("users.txt")});
        }
        args.insert(args.end(), extra_args.begin(), extra_args.end());
        pid_ = spawn_process(dir_.file(program), args, dir_.path().string());
    }
    ~RoomServerProcess() { terminate_process(pid_); }
    RoomServerProcess(const RoomServerProcess&) = delete;
    RoomServerProcess& operator=(const RoomServerProcess&) = delete;
    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }

private:
    TempDir dir_;
    uint16_t port_;
    pid_t pid_;
};
