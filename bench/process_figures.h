// What the benchmarks read about the processes they measure and the settings they take from the environment.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

// An integer setting from the environment, or `fallback` when it is unset or empty.
inline int env_int(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// CPU time of every thread of a process so far, in seconds, from the scheduler's nanosecond counters.
inline double cpu_seconds(pid_t pid) {
    double ns = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        double on_cpu = 0;
        if (in >> on_cpu)
            ns += on_cpu;
    }
    return ns / 1e9;
}
