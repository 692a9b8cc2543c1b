// A private install folder of the built client for tests that run the real program, and a port watcher.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "eventually.h"
#include "platform/process.h"
#include "platform/user_folders.h"
#include "room_peer.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

// A listening socket on a free loopback port that counts the connections it is offered.
class PortWatch {
public:
    PortWatch() {
        fd_ = listen_on_loopback(&port_);
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~PortWatch() { close(fd_); }
    int port() const { return port_; }
    int accepted() {
        int n = 0;
        for (int c; (c = accept(fd_, nullptr, nullptr)) >= 0; ++n)
            close(c);
        return n;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A private install folder holding a copy of the built client and its data, and a private runtime folder.
class Installation {
public:
    // `extra_settings` is appended to user.txt; `with_service` copies velmor too. The client's service
    // listens on a port the system picks and tells the client which.
    explicit Installation(const std::string& extra_settings = "", bool with_service = false)
        : Installation(std::string(kAnyPortSetting), extra_settings, with_service) {}
    // The same with the client's service on `port` (a port the test watches).
    explicit Installation(int port, const std::string& extra_settings = "", bool with_service = false)
        : Installation(std::to_string(port), extra_settings, with_service) {}
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string folder() const { return dir_.path().string(); }

    // Starts the client with a launch string; its standard error goes to `name`.err, its report to
    // `name`.rep.
    // `extra_env` adds to (or overrides) the environment, e.g. the language.
    pid_t start(const std::string& name, const std::string& launch, int exit_after_ms,
                const std::vector<std::string>& extra_env = {}) {
        std::string cmd = "exec ./quorin '" + launch + "' 2>" + name + ".err";
        std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen", "QUORIN_NONINTERACTIVE=1",
                                     "XDG_RUNTIME_DIR=" + dir_.file("run"),
                                     "QUORIN_REPORT=" + dir_.file(name + ".rep"),
                                     "QUORIN_EXIT_AFTER_MS=" + std::to_string(exit_after_ms)};
        env.insert(env.end(), extra_env.begin(), extra_env.end());
        return spawn_process("/bin/sh", {"-c", cmd}, dir_.path().string(), env);
    }
    std::string report(const std::string& name) const { return read_file(dir_.file(name + ".rep")); }
    std::string errors(const std::string& name) const { return read_file(dir_.file(name + ".err")); }

    bool wait_for_report(const std::string& name, const std::string& line, int timeout_ms) const {
        return eventually([&] { return report(name).find(line) != std::string::npos; }, timeout_ms, 10);
    }

private:
    Installation(const std::string& port, const std::string& extra_settings, bool with_service) {
        const fs::path built = QUORIN_INSTALL_DIR;
        fs::copy_file(built / "quorin", dir_.path() / "quorin");
        if (with_service)
            fs::copy_file(built / "velmor", dir_.path() / "velmor");
        fs::create_directories(dir_.path() / "ui");
        fs::copy_file(built / "ui" / "cfg.txt", dir_.path() / "ui" / "cfg.txt");
        fs::copy(built / "Faces", dir_.path() / "Faces");
        fs::create_directories(dir_.path() / "log");
        fs::create_directories(dir_.path() / "timage");
        fs::create_directories(dir_.path() / "run");
        fs::permissions(dir_.path() / "run", fs::perms::owner_all);
        write_file(dir_.file("user.txt"), "[network]\nport=" + port + "\n" + extra_settings);
    }

    TempDir dir_;
};

// Whatever happens in a test, nothing of it outlives it: the client, and the service from its folder.
struct ClientReaper {
    pid_t pid;
    std::string folder;
    ~ClientReaper() {
        if (process_running(pid))
            terminate_process(pid);
        for (pid_t service : find_own_processes_by_exe(folder + "/velmor"))
            kill(service, SIGKILL);
    }
};
