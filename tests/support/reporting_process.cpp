// A started program whose standard error the test reads (see reporting_process.h).
#include "reporting_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/process.h"

uint16_t listening_port_of(const std::string& line) {
    static const std::string kMark = "listening on ";
    const size_t at = line.find(kMark);
    if (at == std::string::npos)
        return 0;
    const size_t end = line.find_first_of(" \t\r\n", at + kMark.size());
    const std::string endpoint =
        line.substr(at + kMark.size(), end == std::string::npos ? end : end - at - kMark.size());
    const size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos)
        return 0;
    char* tail = nullptr;
    const long port = std::strtol(endpoint.c_str() + colon + 1, &tail, 10);
    return tail != endpoint.c_str() + colon + 1 && *tail == '\0' && port > 0 && port <= 65535 ? uint16_t(port)
                                                                                              : 0;
}

ReportingProcess::ReportingProcess(const std::string& path, const std::vector<std::string>& args,
                                   const std::string& working_dir, const std::vector<std::string>& env) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        ended_ = true;
        return;
    }
    const pid_t pid = spawn_process(path, args, working_dir, env, pipe_fds[1]);
    close(pipe_fds[1]);
    if (pid <= 0) {
        close(pipe_fds[0]);
        ended_ = true;
        return;
    }
    pid_ = pid;
    reader_ = std::thread([this, fd = pipe_fds[0]] { Read(fd); });
}

ReportingProcess::~ReportingProcess() {
    if (pid_ > 0)
        terminate_process(pid_);
    // The program's end closes the pipe: the reader sees its end.
    if (reader_.joinable())
        reader_.join();
}

void ReportingProcess::Read(int fd) {
    std::string line;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::fwrite(buffer, 1, size_t(n), stderr);
        std::lock_guard lock(mutex_);
        output_.append(buffer, size_t(n));
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            if (port_ == 0)
                port_ = listening_port_of(line);
            line.clear();
        }
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

uint16_t ReportingProcess::wait_for_port(int timeout_ms) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return port_ != 0 || ended_; });
    return port_;
}

std::optional<int> ReportingProcess::wait(int timeout_ms) {
    const std::optional<int> status = wait_process(pid_, timeout_ms);
    if (status)
        pid_ = 0; // reaped: nothing to end any more
    return status;
}

std::string ReportingProcess::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}
