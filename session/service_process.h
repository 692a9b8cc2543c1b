// The local service program. The client's own service is the install folder's program, run by the same user
// and listening on the configured port; any other process of that name (a room server on the same machine,
// another user's or another install's service) is not ours. When ours does not run, it is started from the
// install folder with that folder as its working directory. Only a service this client started is ever waited
// for or ended.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

// The service program's file name; its path is the install folder + "/" + this.
extern const char* const kServiceProgram;

class ServiceProcess {
public:
    explicit ServiceProcess(std::string install_folder, std::string program = kServiceProgram);

    // The port the service listens on (from the settings file).
    void set_port(int port) { port_ = port; }

    // True when our service runs: the install folder's program, this user's, listening on the port (or the
    // process this object started and still holds).
    bool find_service() const;

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

    bool holds_process() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

private:
    std::string folder_;
    std::string program_;
    int port_ = 0;
    std::atomic<pid_t> pid_{0};
};
