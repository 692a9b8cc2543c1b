// The local service program (see service_process.h).
#include "session/service_process.h"

#include <sys/wait.h>

#include "platform/paths.h"
#include "platform/process.h"

const char* const kServiceProgram = "velmor";

ServiceProcess::ServiceProcess(std::string install_folder, std::string program)
    : folder_(std::move(install_folder)), program_(std::move(program)) {}

bool ServiceProcess::find_service() const {
    if (pid_ > 0 && process_running(pid_))
        return true;
    for (pid_t pid : find_own_processes_by_exe(path_join(folder_, program_)))
        if (port_ <= 0 || process_listens_on(pid, uint16_t(port_)))
            return true;
    return false;
}

bool ServiceProcess::start_service() {
    pid_ = spawn_process(path_join(folder_, program_), {}, folder_);
    return pid_ > 0;
}

bool ServiceProcess::ensure_running() {
    return find_service() || start_service();
}

bool ServiceProcess::stop_service(int wait_ms) {
    const pid_t pid = pid_.exchange(0);
    if (pid <= 0)
        return false;
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
