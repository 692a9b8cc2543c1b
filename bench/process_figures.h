// What the benchmarks read about the processes they measure and the settings they take from the environment.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

// An integer setting from the environment, or `fallback` when it is unset or empty.
inline int env_int(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// What the scheduler counted for every thread of a process so far, in seconds: time on a CPU, and time
// runnable but waiting for one (what the machine's other work took from it).
struct SchedTimes {
    double cpu_s = 0;
    double waited_s = 0;
    SchedTimes operator-(const SchedTimes& o) const { return {cpu_s - o.cpu_s, waited_s - o.waited_s}; }
};
inline SchedTimes sched_times(pid_t pid) {
    SchedTimes t;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        double on_cpu = 0, waiting = 0;
        if (in >> on_cpu >> waiting) {
            t.cpu_s += on_cpu / 1e9;
            t.waited_s += waiting / 1e9;
        }
    }
    return t;
}

// CPU time of each thread of a process so far, in seconds (in the order /proc lists them).
inline std::vector<double> thread_cpu_seconds(pid_t pid) {
    std::vector<double> v;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        double on_cpu = 0;
        if (in >> on_cpu)
            v.push_back(on_cpu / 1e9);
    }
    return v;
}

// CPU time of every thread of a process so far, in seconds, from the scheduler's nanosecond counters.
inline double cpu_seconds(pid_t pid) {
    return sched_times(pid).cpu_s;
}
