// velmor: the local service of the classroom client, and (with --room-server) the room server.
//
//   velmor                                     local service: settings from ./user.txt, one client on
//                                              127.0.0.1:[network] port; relays to [room] server=HOST:PORT
//                                              when set, otherwise hosts the room itself
//   velmor --room-server --listen ADDR:PORT    room server for many services and peers
//          [--directory FILE] [--secret TEXT]
//          [--node NAME --cluster nats://HOST:PORT --store redis://HOST:PORT]
//                                              one node of a cluster of room servers (NATS and Redis)
//   velmor --status --store redis://HOST:PORT  the figures of every node of a cluster
#include <sys/resource.h>

#include <asio.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "cluster/cluster_node.h"
#include "components/log.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/user_folders.h"
#include "service/service_server.h"
#include "wire/defaults.h"

namespace {

// The local service ends this long after its client left (the client that started it tells it to end at
// once).
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

constexpr const char* kUsage =
    "usage: velmor\n"
    "       velmor --room-server --listen ADDR:PORT [--directory FILE] [--secret-file FILE | --secret TEXT]\n"
    "              [--node NAME --cluster nats://HOST:PORT --store redis://HOST:PORT]\n"
    "       velmor --status --store redis://HOST:PORT\n"
    "       velmor --help | --version\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// --help and --version: on standard output, status 0.
bool answer_option(const std::string& a) {
    if (a == "--version") {
        std::printf("velmor %s\n", QUORIN_VERSION);
        return true;
    }
    if (a != "--help" && a != "-h")
        return false;
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "Without options: the local service of the quorin client. It serves one client of its own user on\n"
        "127.0.0.1 at [network] port of user.txt and relays to [room] server=HOST:PORT, or hosts the room\n"
        "itself when none is set.\n"
        "\n"
        "  --room-server         run the room server for many services\n"
        "  --listen ADDR:PORT    the address it listens on (0.0.0.0:6000 for every interface)\n"
        "  --directory FILE      user directory: lines 'user ID NICKNAME' and 'host ROOM USER'\n"
        "  --secret-file FILE    logins must carry HMAC-SHA1 keys made with the secret in FILE\n"
        "  --secret TEXT         the same, on the command line (readable by every local user)\n"
        "\n"
        "A cluster of room servers (all three options together):\n"
        "  --node NAME           this node's name, unique in the cluster\n"
        "  --cluster URL         the NATS server between the nodes, nats://HOST:PORT\n"
        "  --store URL           the Redis server with the directory, presence and room homes, redis://HOST:PORT\n"
        "  --status              print the figures every node keeps in the store, then exit\n"
        "\n"
        "See velmor(1).\n",
        stdout);
    return true;
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
    for (int i = 1; i < argc; ++i)
        if (answer_option(argv[i]))
            return 0;
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
    std::string node, nats_url, store_url;
    bool status = false;
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
        } else if (a == "--node" && value(&v)) {
            node = v;
        } else if (a == "--cluster" && value(&v)) {
            nats_url = v;
        } else if (a == "--store" && value(&v)) {
            store_url = v;
        } else if (a == "--status") {
            status = true;
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
        int port = settings_get_int("network", "port", kDefaultServicePort, settings);
        if (port < 1 || port > 65500)
            port = kDefaultServicePort;
        options.listen = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), uint16_t(port));
        options.max_clients = 1;
        options.voice = true;
        options.voice_config.play_device = settings_get_int("media", "play_deviceid", -1, settings);
        options.own_user_only = true;
        // Its own room serves one client: a reconnect from this machine takes the seat over.
        options.hub.session_tokens = false;
        options.exit_when_idle_ms = kIdleExitMs;
        options.exit_if_unused_ms = kUnusedExitMs;
        const std::string server = settings_get_string("room", "server", "", settings);
        // HOST:PORT, HOST a name or an address, looked up at every login, not now; several (the nodes of a
        // cluster) separated by commas or spaces are tried in turn.
        std::vector<ServerOptions::Upstream> servers;
        std::string item;
        for (size_t i = 0; i <= server.size(); ++i) {
            if (i < server.size() && server[i] != ',' && server[i] != ' ') {
                item += server[i];
                continue;
            }
            if (item.empty())
                continue;
            const size_t colon = item.rfind(':');
            char* end = nullptr;
            const long port =
                colon == std::string::npos ? 0 : std::strtol(item.c_str() + colon + 1, &end, 10);
            if (colon == std::string::npos || colon == 0 || *end != '\0' || port <= 0 || port > 65535 ||
                servers.size() >= 16) {
                service_log("bad [room] server=" + server);
                return 1;
            }
            servers.push_back(ServerOptions::Upstream{item.substr(0, colon), uint16_t(port)});
            item.clear();
        }
        if (!servers.empty()) {
            options.relay_to = servers.front();
            options.relay_alternates.assign(servers.begin() + 1, servers.end());
        }
        directory = settings_get_string("room", "directory", "", settings);
        options.hub.secret = settings_get_string("auth", "secret", "", settings);
    } else if (options.listen.port() == 0 && options.listen.address().is_unspecified()) {
        return usage();
    }
    std::string redis_host;
    uint16_t redis_port = 0;
    if (!store_url.empty() && !cluster::Store::parse_url(store_url, &redis_host, &redis_port)) {
        service_log("bad --store " + store_url + " (redis://HOST:PORT)");
        return usage();
    }
    if (status) {
        if (store_url.empty())
            return usage();
        if (!cluster::ClusterNode::print_status(redis_host, redis_port)) {
            service_log("cannot reach Redis at " + store_url);
            return 1;
        }
        return 0;
    }
    const bool clustered = !nats_url.empty() || !store_url.empty() || !node.empty();
    if (clustered && (!room_server || nats_url.empty() || store_url.empty() || node.empty()))
        return usage();
    if (!clustered && !load_directory(directory, options.hub))
        return 1;
    if (room_server)
        raise_descriptor_limit();

    asio::io_context io(1);
    std::shared_ptr<cluster::ClusterNode> cluster_node;
    if (clustered) {
        // The directory goes to Redis, where every node reads it.
        cluster::ClusterConfig c;
        c.node = node;
        c.nats_url = nats_url;
        c.redis_host = redis_host;
        c.redis_port = redis_port;
        c.hub = options.hub;
        c.directory_file = directory;
        c.log = [](const std::string& line) { service_log(line); };
        cluster_node = std::make_shared<cluster::ClusterNode>(io, c);
        std::string error;
        if (!cluster_node->start(&error)) {
            service_log(error);
            return 1;
        }
        options.backend = cluster_node;
    }
    // Taken over before the port opens: a client that connects may tell the service to end at once.
    asio::signal_set signals(io, SIGTERM, SIGINT);
    ServiceServer server(io, options);
    signals.async_wait([&](std::error_code ec, int) {
        if (ec)
            return;
        service_log("signal: ending");
        if (cluster_node)
            cluster_node->stop();
        server.stop();
        io.stop();
    });
    if (!server.start())
        return 1;
    io.run();
    log_free();
    return 0;
}
