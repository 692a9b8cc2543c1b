// velmor: the local service of the classroom client, and (with --room-server) the room server.
//
//   velmor                                     local service: settings from ./user.txt, one client on
//                                              127.0.0.1:[network] port; relays to [room] server=HOST:PORT
//                                              when set, otherwise hosts the room itself
//   velmor --room-server --listen ADDR:PORT    room server for many services and peers
//          [--directory FILE] [--secret TEXT]
#include <sys/resource.h>

#include <asio.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "components/log.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/user_folders.h"
#include "service/service_server.h"
#include "wire/defaults.h"

namespace {

// The local service ends this long after its client left (the client waits 4 s for it).
constexpr int kIdleExitMs = 2000;
// A local service that no client ever reaches does not linger.
constexpr int kUnusedExitMs = 60000;

bool parse_endpoint(const std::string& text, asio::ip::tcp::endpoint* out) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::error_code ec;
    std::string host = text.substr(0, colon);
    if (host == "localhost")
        host = "127.0.0.1";
    auto addr = asio::ip::make_address(host, ec);
    char* end = nullptr;
    long port = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (ec || *end != '\0' || port < 0 || port > 65535)
        return false;
    *out = asio::ip::tcp::endpoint(addr, uint16_t(port));
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: velmor\n"
                         "       velmor --room-server --listen ADDR:PORT [--directory FILE] [--secret-file "
                         "FILE | --secret TEXT]\n");
    return 2;
}

bool load_directory(const std::string& path, room::HubConfig& hub) {
    if (path.empty())
        return true;
    std::vector<std::string> warnings;
    if (!hub.directory.load(path, &warnings)) {
        service_log("cannot read the user directory " + path);
        return false;
    }
    for (const std::string& w : warnings)
        service_log(w);
    return true;
}

} // namespace

// A room server holds a connection per user: the soft limit on open files (often 1024) is raised to the hard
// one, which the administrator set. The caps on connections waiting for their login keep it below that.
static void raise_descriptor_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) == 0)
        service_log("open files: " + std::to_string(before) + " raised to " + std::to_string(limit.rlim_max));
}

int main(int argc, char** argv) {
    // The same writable folders as the client: the client starts the service in its install folder.
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

    ServerOptions options;
    bool room_server = false;
    std::string directory;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc)
                return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--room-server") {
            room_server = true;
        } else if (a == "--listen" && value(&v)) {
            if (!parse_endpoint(v, &options.listen))
                return usage();
        } else if (a == "--directory" && value(&v)) {
            directory = v;
        } else if (a == "--secret" && value(&v)) {
            options.hub.secret = v;
        } else if (a == "--secret-file" && value(&v)) {
            // Better than --secret: a command line can be read by every user of the machine.
            std::ifstream f(v);
            if (!std::getline(f, options.hub.secret) || options.hub.secret.empty()) {
                service_log("cannot read a secret from " + v);
                return 1;
            }
            while (!options.hub.secret.empty() &&
                   (options.hub.secret.back() == '\r' || options.hub.secret.back() == ' '))
                options.hub.secret.pop_back();
        } else {
            return usage();
        }
    }

    if (!room_server) {
        const std::string settings = folders.settings_file;
        int port = profile_get_int("network", "port", kDefaultServicePort, settings);
        if (port < 1 || port > 65500)
            port = kDefaultServicePort;
        options.listen = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), uint16_t(port));
        options.max_clients = 1;
        options.voice = true;
        options.voice_config.play_device = profile_get_int("media", "play_deviceid", -1, settings);
        options.own_user_only = true;
        // Its own room serves one client: a reconnect from this machine takes the seat over.
        options.hub.session_tokens = false;
        options.exit_when_idle_ms = kIdleExitMs;
        options.exit_if_unused_ms = kUnusedExitMs;
        const std::string server = profile_get_string("room", "server", "", settings);
        if (!server.empty()) {
            // HOST:PORT, HOST a name or an address; it is looked up at every login, not now.
            const size_t colon = server.rfind(':');
            char* end = nullptr;
            const long port =
                colon == std::string::npos ? 0 : std::strtol(server.c_str() + colon + 1, &end, 10);
            if (colon == std::string::npos || colon == 0 || *end != '\0' || port <= 0 || port > 65535) {
                service_log("bad [room] server=" + server);
                return 1;
            }
            options.relay_to = ServerOptions::Upstream{server.substr(0, colon), uint16_t(port)};
        }
        directory = profile_get_string("room", "directory", "", settings);
        options.hub.secret = profile_get_string("auth", "secret", "", settings);
    } else if (options.listen.port() == 0 && options.listen.address().is_unspecified()) {
        return usage();
    }
    if (!load_directory(directory, options.hub))
        return 1;
    if (room_server)
        raise_descriptor_limit();

    asio::io_context io(1);
    ServiceServer server(io, options);
    // The signals are caught before the port opens: a client that connects and at once asks it to end
    // finds it ready to end cleanly.
    asio::signal_set signals(io, SIGTERM, SIGINT);
    if (!server.start())
        return 1;
    signals.async_wait([&](std::error_code ec, int) {
        if (ec)
            return;
        service_log("signal: ending");
        server.stop();
        io.stop();
    });
    io.run();
    log_free();
    return 0;
}
