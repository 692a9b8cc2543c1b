// velmor: the local service of the classroom client, and (with --room-server) the room server.
//
//   velmor [--report-port FD]                  local service: settings from ./user.txt, one client on
//                                              127.0.0.1:[network] port; relays to [room] server=HOST:PORT
//                                              when set, otherwise hosts the room itself; with port=any on
//                                              a port the system picks, written to FD
//   velmor --room-server --listen ADDR:PORT    room server for many services and peers
//          [--directory FILE] [--secret TEXT]
//          [--node NAME --cluster nats://HOST:PORT --store redis://HOST:PORT]
//                                              one node of a cluster of room servers (NATS and Redis)
//   velmor --status --store redis://HOST:PORT  the figures of every node of a cluster
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "cluster/cluster_node.h"
#include "components/alsa_messages.h"
#include "components/log.h"
#include "platform/user_folders.h"
#include "service/local_service.h"
#include "service/room_server.h"
#include "service/velmor_options.h"

namespace {

// The same writable folders as the client (which starts the service in its install folder); the log goes to
// its log folder when there is one.
UserFolders open_log() {
    std::error_code cwd_error;
    const UserFolders folders = user_folders(std::filesystem::current_path(cwd_error).string());
    struct stat st {};
    if (stat(folders.log_folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        log_init(folders.log_folder.c_str())) {
        static const char* const modules[] = {"", "velmor"};
        log_setmodules(modules, 2);
        log_setdebugfname("velmor_%yyyy_%MM%dd.log");
        log_setlevel(0, 0x7F, "%d_%t: %s");
    }
    return folders;
}

int fail(const velmor::Fault& fault) {
    if (!fault.line.empty())
        service_log(fault.line);
    if (fault.status == 2)
        std::fputs(velmor::usage_text(), stderr);
    return fault.status;
}

// A room server holds a connection per user: the soft limit on open files (often 1024) is raised to the hard
// one, which the administrator set. The caps on connections waiting for their login keep it below that.
void raise_descriptor_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) == 0)
        service_log("open files: " + std::to_string(before) + " raised to " + std::to_string(limit.rlim_max));
}

// Writes the port `server` listens on to the parent's descriptor `fd` (when there is one) and closes it.
void report_port(int fd, uint16_t port) {
    if (fd < 0)
        return;
    const std::string text = std::to_string(port) + "\n";
    // A parent that is gone already is no reason to end.
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    ssize_t n;
    do
        n = write(fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    sigaction(SIGPIPE, &before, nullptr);
    if (n != ssize_t(text.size()))
        service_log("cannot report the port on descriptor " + std::to_string(fd));
    close(fd);
}

// Starts `server` and runs until it ends by itself or SIGTERM or SIGINT ends it (and `also_stop`). Once it
// listens, its port goes to `report_fd`.
template <typename Server>
int serve(asio::io_context& io, Server& server, int report_fd, std::function<void()> also_stop = {}) {
    // Taken over before the port opens: a client that connects may tell the service to end at once.
    asio::signal_set signals(io, SIGTERM, SIGINT);
    signals.async_wait([&](std::error_code ec, int) {
        if (ec)
            return;
        service_log("signal: ending");
        if (also_stop)
            also_stop();
        server.stop();
        io.stop();
    });
    if (!server.start())
        return 1;
    report_port(report_fd, server.port());
    io.run();
    log_free();
    return 0;
}

int print_status(const velmor::CommandLine& line) {
    std::string host;
    uint16_t port = 0;
    if (!cluster::Store::parse_url(line.store_url, &host, &port))
        return fail({2, "bad --store " + line.store_url + " (redis://HOST:PORT)"});
    if (!cluster::ClusterNode::print_status(host, port))
        return fail({1, "cannot reach Redis at " + line.store_url});
    return 0;
}

int run_room_server(const velmor::CommandLine& line) {
    RoomServerOptions options;
    options.listen = line.listen;
    options.threads =
        line.threads > 0 ? line.threads : int(std::max(1u, std::thread::hardware_concurrency()));
    options.hub.secret = line.secret;
    options.limits.link_timeout_ms = line.link_timeout_ms;
    cluster::ClusterConfig c;
    if (line.clustered() && !cluster::Store::parse_url(line.store_url, &c.redis_host, &c.redis_port))
        return fail({2, "bad --store " + line.store_url + " (redis://HOST:PORT)"});
    if (!line.clustered())
        if (auto fault = velmor::load_directory(line.directory, options.hub))
            return fail(*fault);
    raise_descriptor_limit();
    asio::io_context io(1);
    std::shared_ptr<cluster::ClusterNode> node;
    if (line.clustered()) {
        // The directory goes to Redis, where every node reads it.
        c.node = line.node;
        c.nats_url = line.nats_url;
        c.hub = options.hub;
        c.directory_file = line.directory;
        c.log = [](const std::string& text) { service_log(text); };
        node = std::make_shared<cluster::ClusterNode>(io, c);
        std::string error;
        if (!node->start(&error))
            return fail({1, error});
        options.backend = node;
    }
    RoomServer server(io, options);
    return serve(io, server, line.report_fd, [&] {
        if (node)
            node->stop();
    });
}

int run_local_service(const std::string& settings_file, int report_fd) {
    LocalServiceOptions options;
    std::string directory;
    if (auto fault = velmor::local_service_settings(settings_file, &options, &directory))
        return fail(*fault);
    if (auto fault = velmor::load_directory(directory, options.hub))
        return fail(*fault);
    asio::io_context io(1);
    LocalService service(io, options);
    return serve(io, service, report_fd);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    switch (velmor::answer_for(args)) {
    case velmor::Answer::Version:
        std::printf("velmor %s\n", QUORIN_VERSION);
        return 0;
    case velmor::Answer::Help:
        std::fputs(velmor::help_text(), stdout);
        return 0;
    case velmor::Answer::None:
        break;
    }
    const UserFolders folders = open_log();
    // ALSA's complaints about missing sound devices, as one line of the log.
    route_alsa_messages([](const char* text) { service_log(text); });
    velmor::CommandLine line;
    if (auto fault = velmor::parse_command_line(args, &line))
        return fail(*fault);
    switch (line.run) {
    case velmor::Run::Status:
        return print_status(line);
    case velmor::Run::RoomServer:
        return run_room_server(line);
    case velmor::Run::LocalService:
        break;
    }
    return run_local_service(folders.settings_file, line.report_fd);
}
