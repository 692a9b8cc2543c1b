// The server program a benchmark measures, on a loopback port held for it: bound with SO_REUSEADDR but not
// listening, so no other program takes it between the pick and the server's start (the server binds it with
// SO_REUSEADDR too). Any command line works this way, an older build's included.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/process.h"

struct BenchServer {
    const char* name = "";
    pid_t pid = 0;
    uint16_t port = 0;
    int reserved_fd = -1; // holds the port while the server runs
};

// Starts `command_line` (a shell command; PORT in it stands for the port) in `work` with its standard error
// dropped, and waits until it takes connections. A server that does not start ends the benchmark with a line
// naming it.
inline BenchServer start_server(const char* name, std::string command_line,
                                const std::filesystem::path& work) {
    BenchServer s{name};
    s.reserved_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(s.reserved_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s.reserved_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s.reserved_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        s.port = ntohs(a.sin_port);
    const size_t at = command_line.find("PORT");
    if (s.port != 0 && at != std::string::npos) {
        command_line.replace(at, 4, std::to_string(s.port));
        s.pid = spawn_process("/bin/sh", {"-c", "exec " + command_line + " 2>/dev/null"}, work.string());
    }
    for (int i = 0; s.pid > 0 && i < 500; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        a.sin_port = htons(s.port);
        const bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (up)
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "%s did not start: %s\n", name, command_line.c_str());
    std::exit(1);
}

inline void stop_server(BenchServer& s) {
    terminate_process(s.pid);
    s.pid = 0;
    if (s.reserved_fd >= 0)
        close(s.reserved_fd);
    s.reserved_fd = -1;
}
