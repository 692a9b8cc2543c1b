// Processes over posix_spawn, waitpid and /proc (see process.h).
#include "platform/process.h"

#include <dirent.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

pid_t spawn_process(const std::string& path, const std::vector<std::string>& args,
                    const std::string& working_dir, const std::vector<std::string>& extra_env, int stderr_fd,
                    int pass_fd) {
    if (access(path.c_str(), X_OK) != 0)
        return 0;
    // The environment: ours, with every NAME= of extra_env replaced.
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('=') + 1);
        bool overridden = false;
        for (const std::string& x : extra_env)
            overridden = overridden || x.compare(0, name.size(), name) == 0;
        if (!overridden)
            env.push_back(entry);
    }
    env.insert(env.end(), extra_env.begin(), extra_env.end());

    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // posix_spawn shares our memory with the child until it runs the program (a fork would copy every page
    // table of a window's process first: about a millisecond on the start path). The child gets none of our
    // descriptors beyond the standard three: an inherited socket (the link, the single-instance server) would
    // outlive us in it and keep peers from seeing it close.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return 0;
    bool ready = true;
    if (stderr_fd >= 0 && stderr_fd != STDERR_FILENO)
        ready = posix_spawn_file_actions_adddup2(&actions, stderr_fd, STDERR_FILENO) == 0;
    // The one passed (a dup2 onto itself only clears its close-on-exec flag).
    if (pass_fd >= 0)
        ready = ready && posix_spawn_file_actions_adddup2(&actions, pass_fd, kPassedFd) == 0;
    ready =
        ready && posix_spawn_file_actions_addclosefrom_np(&actions, pass_fd >= 0 ? kPassedFd + 1 : 3) == 0;
    if (!working_dir.empty())
        ready = ready && posix_spawn_file_actions_addchdir_np(&actions, working_dir.c_str()) == 0;
    pid_t pid = 0;
    if (ready && posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::optional<int> wait_process(pid_t pid, int timeout_ms) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    auto reap = [pid](std::optional<int>* status_out) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            *status_out = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return r != 0; // ended, or not our child
    };
    std::optional<int> status;
    if (reap(&status))
        return status;
#ifdef SYS_pidfd_open
    // Woken the moment the process ends rather than at the next poll.
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
            pollfd p{pidfd, POLLIN, 0};
            const int n = poll(&p, 1, int(std::max<int64_t>(0, left.count())));
            if (n < 0 && errno == EINTR)
                continue;
            if (reap(&status) || clock::now() >= deadline) {
                close(pidfd);
                return status;
            }
        }
    }
#endif
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (reap(&status) || clock::now() >= deadline)
            return status;
        std::this_thread::sleep_for(std::min<clock::duration>(pause, deadline - clock::now()));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

void terminate_process(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

std::optional<int> end_process(pid_t pid, int timeout_ms) {
    if (pid <= 0 || kill(pid, SIGTERM) != 0)
        return std::nullopt;
    if (auto status = wait_process(pid, timeout_ms))
        return status;
    terminate_process(pid);
    return std::nullopt;
}

bool process_running(pid_t pid) {
    if (pid <= 0 || kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

ProcessUsage process_usage(pid_t pid) {
    ProcessUsage u;
    if (pid <= 0)
        return u;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The fields after the command name (which may hold spaces and brackets) start after the last ')';
    // the 14th and 15th are the user and system time in clock ticks.
    const size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size()) {
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        unsigned long long ticks = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i)
            if (i == 14 || i == 15)
                ticks += std::strtoull(field.c_str(), nullptr, 10);
        u.cpu_seconds = double(ticks) / double(sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            u.rss_kb = std::atol(line.c_str() + 6);
    return u;
}

namespace {

// The executable of a process; empty when it cannot be read (another user's process, a kernel thread).
std::string exe_of(long pid) {
    char exe[PATH_MAX + 1];
    ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, PATH_MAX);
    if (n <= 0)
        return {};
    std::string path(exe, size_t(n));
    // An executable replaced on disk while it runs shows as "path (deleted)".
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    return path;
}

// Calls `fn(pid)` for every process but this one until it returns true.
template <typename Fn> void for_each_process(Fn fn) {
    DIR* dir = opendir("/proc");
    if (!dir)
        return;
    const pid_t self = getpid();
    while (dirent* d = readdir(dir)) {
        char* end = nullptr;
        long pid = std::strtol(d->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        if (fn(pid))
            break;
    }
    closedir(dir);
}

// The listening sockets of one of /proc/net/tcp and tcp6: their inodes and ports.
void listening_sockets(const char* table, std::map<unsigned long, uint16_t>& out) {
    FILE* in = std::fopen(table, "re");
    if (!in)
        return;
    char line[512];
    // The header, then one socket a line: "sl local_address rem_address st ... uid timeout inode".
    bool header = true;
    while (std::fgets(line, sizeof line, in)) {
        if (std::exchange(header, false))
            continue;
        unsigned local_port = 0, state = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, " %*s %*[0-9A-Fa-f]:%x %*s %x %*s %*s %*s %*s %*s %lu", &local_port, &state,
                        &inode) == 3 &&
            state == 0x0A)
            out[inode] = uint16_t(local_port);
    }
    std::fclose(in);
}

} // namespace

std::optional<ProcessInfo> find_process(const std::string& name) {
    std::optional<ProcessInfo> found;
    for_each_process([&](long pid) {
        const std::string path = exe_of(pid);
        if (path.empty())
            return false;
        const std::string base = path.substr(path.rfind('/') + 1);
        if (strcasecmp(base.c_str(), name.c_str()) == 0 && process_running(pid_t(pid))) {
            found = ProcessInfo{pid_t(pid), path};
            return true;
        }
        return false;
    });
    return found;
}

std::vector<pid_t> find_own_processes_by_exe(const std::string& exe_path) {
    std::vector<pid_t> found;
    char resolved[PATH_MAX];
    if (!realpath(exe_path.c_str(), resolved))
        return found;
    const uid_t me = getuid();
    for_each_process([&](long pid) {
        // The program first: most processes are another program, or another user's, whose link cannot be
        // read (one call each rather than two; this runs on the client's start path).
        if (exe_of(pid) != resolved)
            return false;
        struct stat st {};
        if (stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0 || st.st_uid != me)
            return false;
        if (process_running(pid_t(pid)))
            found.push_back(pid_t(pid));
        return false;
    });
    return found;
}

std::vector<uint16_t> process_listening_ports(pid_t pid) {
    std::vector<uint16_t> ports;
    std::map<unsigned long, uint16_t> sockets;
    listening_sockets("/proc/net/tcp", sockets);
    listening_sockets("/proc/net/tcp6", sockets);
    if (sockets.empty())
        return ports;
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(fd_dir.c_str());
    if (!dir)
        return ports;
    while (dirent* d = readdir(dir)) {
        char target[64];
        ssize_t n = readlink((fd_dir + "/" + d->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        unsigned long inode = 0;
        if (std::sscanf(target, "socket:[%lu]", &inode) != 1)
            continue;
        const auto socket = sockets.find(inode);
        if (socket != sockets.end() && std::find(ports.begin(), ports.end(), socket->second) == ports.end())
            ports.push_back(socket->second);
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::vector<std::string> process_arguments(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    // Not the program itself; a command line is at most a few hundred kB.
    for (bool first = true; std::getline(in, arg, '\0') && args.size() < 4096; first = false)
        if (!first)
            args.push_back(arg);
    return args;
}

bool process_listens_on(pid_t pid, uint16_t port) {
    const std::vector<uint16_t> ports = process_listening_ports(pid);
    return std::find(ports.begin(), ports.end(), port) != ports.end();
}

std::optional<uid_t> tcp_peer_owner(uint32_t local_ip, uint16_t local_port, uint32_t remote_ip,
                                    uint16_t remote_port) {
    // The table writes an IPv4 address as the 32-bit value in memory order, in hexadecimal: 127.0.0.1 is
    // 0100007F. A socket of the peer has our remote end as its local end.
    auto hex_address = [](uint32_t ip, uint16_t port) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%08X:%04X", __builtin_bswap32(ip), port);
        return std::string(buf);
    };
    const std::string want_local = hex_address(local_ip, local_port),
                      want_remote = hex_address(remote_ip, remote_port);
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits;
        unsigned long uid = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid))
            continue;
        if (local == want_local && remote == want_remote)
            return uid_t(uid);
    }
    return std::nullopt;
}

bool started_in_utf8_terminal() {
    if (!::isatty(STDIN_FILENO))
        return false;
    // The environment's locale, read without making it the process's own.
    const locale_t locale = ::newlocale(LC_CTYPE_MASK, "", locale_t(0));
    if (locale == locale_t(0))
        return false;
    const bool utf8 = std::strcmp(::nl_langinfo_l(CODESET, locale), "UTF-8") == 0;
    ::freelocale(locale);
    return utf8;
}
