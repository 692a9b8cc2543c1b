// The local service program (see service_process.h).
#include "session/service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <utility>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/user_folders.h"

const char* const kServiceProgram = "velmor";

namespace {

// The port a started service writes on its report pipe: a decimal number and a newline. 0 when the pipe
// closes (the service ended), says something else, or stays silent for `timeout_ms`.
uint16_t read_reported_port(int fd, int timeout_ms) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string text;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0)
            return 0;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return 0;
        char c;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        if (c == '\n')
            break;
        if (c < '0' || c > '9' || text.size() >= 5)
            return 0;
        text += c;
    }
    const long port = text.empty() ? 0 : std::strtol(text.c_str(), nullptr, 10);
    return port > 0 && port <= 65535 ? uint16_t(port) : 0;
}

} // namespace

ServiceProcess::ServiceProcess(std::string install_folder, std::string program)
    : folder_(std::move(install_folder)), program_(std::move(program)) {}

ServiceProcess::~ServiceProcess() {
    forget_port();
}

bool ServiceProcess::find_service() {
    if (pid_ > 0 && process_running(pid_))
        return true;
    for (pid_t pid : find_own_processes_by_exe(path_join(folder_, program_))) {
        if (port_ != kAnyServicePort) {
            if (process_listens_on(pid, uint16_t(port_)))
                return true;
            continue;
        }
        // The same program as a room server is not our service; ours listens on one port, the one it
        // picked.
        const std::vector<std::string> args = process_arguments(pid);
        if (std::find(args.begin(), args.end(), "--room-server") != args.end())
            continue;
        const std::vector<uint16_t> ports = process_listening_ports(pid);
        if (ports.empty())
            continue;
        forget_port();
        std::lock_guard lock(mutex_);
        known_port_ = ports.front();
        return true;
    }
    return false;
}

bool ServiceProcess::start_service() {
    const std::string program = path_join(folder_, program_);
    if (port_ != kAnyServicePort) {
        pid_ = spawn_process(program, {}, folder_);
        return pid_ > 0;
    }
    forget_port();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    pid_ = spawn_process(program, {"--report-port", std::to_string(kPassedFd)}, folder_, {}, -1, report[1]);
    close(report[1]);
    if (pid_ <= 0) {
        close(report[0]);
        return false;
    }
    std::lock_guard lock(mutex_);
    report_fd_ = report[0];
    return true;
}

bool ServiceProcess::ensure_running() {
    return find_service() || start_service();
}

uint16_t ServiceProcess::port(int timeout_ms) {
    if (port_ != kAnyServicePort)
        return uint16_t(port_);
    int fd;
    {
        std::lock_guard lock(mutex_);
        if (known_port_ != 0 || report_fd_ < 0)
            return known_port_;
        fd = std::exchange(report_fd_, -1);
    }
    // Not under the lock: stopping the service meanwhile ends the wait (the pipe closes).
    const uint16_t reported = read_reported_port(fd, timeout_ms);
    close(fd);
    std::lock_guard lock(mutex_);
    known_port_ = reported;
    return reported;
}

void ServiceProcess::forget_port() {
    std::lock_guard lock(mutex_);
    if (report_fd_ >= 0)
        close(std::exchange(report_fd_, -1));
    known_port_ = 0;
}

bool ServiceProcess::stop_service(int wait_ms) {
    const pid_t pid = pid_.exchange(0);
    if (pid <= 0)
        return false;
    forget_port();
    return end_process(pid, wait_ms) == 0;
}

void ServiceProcess::reap_if_ended() {
    pid_t pid = pid_;
    if (pid <= 0 || process_running(pid))
        return;
    // Only the one who takes the id out waits for it; it has ended, so this returns at once.
    if (pid_.compare_exchange_strong(pid, 0))
        waitpid(pid, nullptr, 0);
}
