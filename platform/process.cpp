// Processes over posix_spawn, waitpid and /proc (see process.h).
#include "process.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

pid_t spawn_process(const std::string& path, const std::vector<std::string>& args,
                    const std::string& working_dir, const std::vector<std::string>& extra_env) {
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

    // posix_spawn cannot change the working folder before exec on this libc, so fork and exec.
    pid_t pid = fork();
    if (pid < 0)
        return 0;
    if (pid == 0) {
        // The child gets none of our descriptors beyond the standard three: an inherited socket (the link,
        // the single-instance server) would outlive us in it and keep peers from seeing it close.
        close_range(3, ~0U, 0);
        if (!working_dir.empty() && chdir(working_dir.c_str()) != 0)
            _exit(127);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

std::optional<int> wait_process(pid_t pid, int timeout_ms) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0)
            return std::nullopt;
        if (clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(pause);
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

bool process_running(pid_t pid) {
    if (pid <= 0 || kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

std::optional<ProcessInfo> find_process(const std::string& name) {
    DIR* dir = opendir("/proc");
    if (!dir)
        return std::nullopt;
    std::optional<ProcessInfo> found;
    const pid_t self = getpid();
    while (dirent* d = readdir(dir)) {
        char* end = nullptr;
        long pid = std::strtol(d->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        char exe[PATH_MAX + 1];
        ssize_t n = readlink(("/proc/" + std::string(d->d_name) + "/exe").c_str(), exe, PATH_MAX);
        if (n <= 0)
            continue;
        std::string path(exe, size_t(n));
        // An executable replaced on disk while it runs shows as "path (deleted)".
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() &&
            path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
            path.resize(path.size() - deleted.size());
        std::string base = path.substr(path.rfind('/') + 1);
        if (strcasecmp(base.c_str(), name.c_str()) == 0 && process_running(pid_t(pid))) {
            found = ProcessInfo{pid_t(pid), path};
            break;
        }
    }
    closedir(dir);
    return found;
}
