// The local service program (see service_process.h).
#include "service_process.h"

#include "paths.h"
#include "process.h"

const char* const kServiceProgram = "velmor";

ServiceProcess::ServiceProcess(std::string install_folder, std::string program)
    : folder_(std::move(install_folder)), program_(std::move(program)) {}

bool ServiceProcess::find_service() const {
    return find_process(program_).has_value();
}

bool ServiceProcess::start_service() {
    pid_ = spawn_process(path_join(folder_, program_), {}, folder_);
    return pid_ > 0;
}

bool ServiceProcess::ensure_running() {
    return find_service() || start_service();
}

void ServiceProcess::stop_service(int wait_ms) {
    if (pid_ <= 0)
        return;
    if (!wait_process(pid_, wait_ms))
        terminate_process(pid_);
    pid_ = 0;
}
