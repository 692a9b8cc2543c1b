// The local service program. The client's own service is the install folder's program, run by the same user
// and listening on the configured port (with port "any": on whichever port it listens); any other process of
// that name (a room server on the same machine, another user's or another install's service) is not ours.
// When ours does not run, it is started from the install folder with that folder as its working directory;
// with port "any" it is given a pipe on which it reports the port it bound. Only a service this client
// started is ever waited for or ended.
//
// Threads: the UI thread sets it up, reaps and stops it at shut-down; the reconnect worker finds, starts,
// stops it and asks for its port. The report pipe and the port learnt are guarded by a mutex that is never
// held while waiting for the report.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "wire/defaults.h"

// The service program's file name; its path is the install folder + "/" + this.
extern const char* const kServiceProgram;

class ServiceProcess {
public:
    explicit ServiceProcess(std::string install_folder, std::string program = kServiceProgram);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The port the service listens on (from the settings file); kAnyServicePort (0): the one it picks.
    void set_port(int port) { port_ = port; }

    // True when our service runs: the install folder's program, this user's, listening on the port (with
    // port "any": on some port, which is kept) or the process this object started and still holds.
    bool find_service();

    // Starts the service and keeps its process; false when it cannot be started.
    bool start_service();

    // The service set-up: start it unless ours runs. False only when starting was needed and failed.
    bool ensure_running();

    // Tells the service we started to end, waits up to `wait_ms` for it, ends it at once when it has not
    // ended by then, and forgets it. Nothing happens for a service we did not start. True when it ended by
    // itself, cleanly.
    bool stop_service(int wait_ms = kStopWaitMs);

    // The service ends within a few milliseconds of being told; this is the most a caller waits.
    static constexpr int kStopWaitMs = 200;

    // Collects the service we started when it has ended by itself (it leaves no zombie behind) and forgets
    // it. Called on the UI thread; safe while a reconnect on its worker starts or stops the service.
    void reap_if_ended();

    // The port to connect to: the configured one; with port "any" the one the service found listens on, or
    // the one the service this object started reports, waited for up to `timeout_ms`. 0 when it is not
    // known (nothing found or started, or the service ended or said nothing in time).
    uint16_t port(int timeout_ms = kReportWaitMs);
    // A service starts listening well within this on a loaded machine.
    static constexpr int kReportWaitMs = 10000;

    bool holds_process() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

private:
    // Forgets the report pipe and the port learnt.
    void forget_port();

    std::string folder_;
    std::string program_;
    int port_ = kDefaultServicePort;
    std::atomic<pid_t> pid_{0};
    std::mutex mutex_;
    int report_fd_ = -1;      // the read end of the started service's report, until it is read
    uint16_t known_port_ = 0; // port "any": the port of the service found or started
};
