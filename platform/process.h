// Processes: start a program, wait for it with a time limit, end it, and find a running one by name.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include <optional>
#include <string>
#include <vector>

struct ProcessInfo {
    pid_t pid = 0;
    std::string path; // full path of its executable
};

// Starts `path` with `args` (not including the program itself) in `working_dir`, with the environment of
// this process plus `extra_env` ("NAME=value" entries override). With `stderr_fd` (0 or more), the child's
// standard error goes there (the caller keeps its descriptor and closes it); otherwise it is ours. Returns
// the process id, or 0 when the program is missing or not executable or the process cannot be made.
// With `pass_fd` (0 or more), the child has that descriptor open as its descriptor kPassedFd (the caller
// keeps its own and closes it).
pid_t spawn_process(const std::string& path, const std::vector<std::string>& args,
                    const std::string& working_dir, const std::vector<std::string>& extra_env = {},
                    int stderr_fd = -1, int pass_fd = -1);
constexpr int kPassedFd = 3;

// Waits up to `timeout_ms` for a child of this process to end. Its exit status (or 128 + signal), or nothing
// on time-out or when it is not our child.
std::optional<int> wait_process(pid_t pid, int timeout_ms);

// Ends a process at once (SIGKILL) and reaps it when it is our child.
void terminate_process(pid_t pid);

// Asks a process to end (SIGTERM), waits up to `timeout_ms` for it when it is our child, and ends it at once
// when it has not ended by then. Its exit status (or 128 + signal) when it ended within the wait.
std::optional<int> end_process(pid_t pid, int timeout_ms);

// The first running process whose executable's base name equals `name` (case-insensitive), other than this
// process itself.
std::optional<ProcessInfo> find_process(const std::string& name);

// The running processes of this user whose executable is `exe_path` (compared after resolving links), other
// than this process itself.
std::vector<pid_t> find_own_processes_by_exe(const std::string& exe_path);

// True when the process has a TCP socket listening on `port` (IPv4 or IPv6). Only processes of this user can
// be looked into.
bool process_listens_on(pid_t pid, uint16_t port);
// The ports the process has TCP sockets listening on, in ascending order (none for another user's process).
std::vector<uint16_t> process_listening_ports(pid_t pid);

// The arguments a process was started with, without the program itself (none for another user's process
// that hides them).
std::vector<std::string> process_arguments(pid_t pid);

// True while a process with this id exists and has not ended (a zombie counts as ended).
bool process_running(pid_t pid);

// What a process has used so far: user and system CPU seconds, and its resident memory in kB (zeros when it
// cannot be read).
struct ProcessUsage {
    double cpu_seconds = 0;
    long rss_kb = 0;
};
ProcessUsage process_usage(pid_t pid);

// The user who owns the TCP socket whose local end is local_ip:local_port and whose remote end is
// remote_ip:remote_port (IPv4, host byte order), from /proc/net/tcp; nothing when no such socket is listed.
std::optional<uid_t> tcp_peer_owner(uint32_t local_ip, uint16_t local_port, uint32_t remote_ip,
                                    uint16_t remote_port);

// Whether this process was started from a terminal (its standard input is one) whose character set, as the
// environment's locale names it, is UTF-8: what a person typed there is UTF-8.
bool started_in_utf8_terminal();
