// A program the test starts and whose standard error it reads: every line is passed on to the test's own
// standard error, and the port of the first "listening on ADDR:PORT" line is kept. A server started on port 0
// so tells the test the port it bound: no port is picked beforehand that another test could take meanwhile.
// Ended (SIGKILL) with the object.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class ReportingProcess {
public:
    // As spawn_process: `env` entries ("NAME=value") override the test's environment.
    ReportingProcess(const std::string& path, const std::vector<std::string>& args,
                     const std::string& working_dir, const std::vector<std::string>& env = {});
    ~ReportingProcess();
    ReportingProcess(const ReportingProcess&) = delete;
    ReportingProcess& operator=(const ReportingProcess&) = delete;

    // 0 when the program could not be started.
    pid_t pid() const { return pid_; }
    // The port of the program's "listening on" line; 0 when none came within `timeout_ms` or the program
    // ended first.
    uint16_t wait_for_port(int timeout_ms = 10000);
    // Waits up to `timeout_ms` for the program to end: its exit status (or 128 + signal), or nothing when
    // it still runs.
    std::optional<int> wait(int timeout_ms);
    // Everything the program wrote to its standard error so far.
    std::string output() const;

private:
    void Read(int fd);

    pid_t pid_ = 0;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    uint16_t port_ = 0;
    bool ended_ = false;
};

// The port of a "... listening on ADDR:PORT ..." line; 0 for any other line.
uint16_t listening_port_of(const std::string& line);
