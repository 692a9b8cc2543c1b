// The local service program (see service_process.h).
#include "session/service_process.h"

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
    if (pid_ <= 0)
        return false;
    const std::optional<int> status = end_process(pid_, wait_ms);
    pid_ = 0;
    return status == 0;
}
