// velmor's command line and settings (see velmor_options.h).
#include "service/velmor_options.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "platform/user_folders.h"
#include "wire/defaults.h"

namespace velmor {

namespace {

// The local service ends this long after its client left (the client that started it tells it to end at
// once).
constexpr int kIdleExitMs = 2000;
// A local service that no client ever reaches does not linger.
constexpr int kUnusedExitMs = 60000;

constexpr const char* kUsage =
    "usage: velmor [--report-port FD]\n"
    "       velmor --room-server --listen ADDR:PORT [--directory FILE] [--secret-file FILE | --secret TEXT]\n"
    "              [--threads N] [--link-timeout MS] [--report-port FD]\n"
    "              [--node NAME --cluster nats://HOST:PORT --store redis://HOST:PORT]\n"
    "       velmor --status --store redis://HOST:PORT\n"
    "       velmor --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Without options: the local service of the quorin client. It serves one client of its own user on\n"
    "127.0.0.1 at [network] port of user.txt and relays to [room] server=HOST:PORT, or hosts the room\n"
    "itself when none is set. With port=any it listens on a port the system picks.\n"
    "\n"
    "  --report-port FD      once listening, write the port (a number and a newline) to the open\n"
    "                        descriptor FD and close it: how the client learns a port the system picked\n"
    "  --room-server         run the room server for many services\n"
    "  --listen ADDR:PORT    the address it listens on (0.0.0.0:6000 for every interface)\n"
    "  --directory FILE      user directory: lines 'user ID NICKNAME' and 'host ROOM USER'\n"
    "  --secret-file FILE    logins must carry HMAC-SHA1 keys made with the secret in FILE\n"
    "  --secret TEXT         the same, on the command line (readable by every local user)\n"
    "  --threads N           threads that serve the rooms, each room on one of them (default: one a core;\n"
    "                        a node of a cluster uses one)\n"
    "  --link-timeout MS     close a connection silent this long, in milliseconds (default 20000; 0: "
    "never):\n"
    "                        the kernel probes every connection, and a local service keeps its link alive\n"
    "\n"
    "A cluster of room servers (all three options together):\n"
    "  --node NAME           this node's name, unique in the cluster\n"
    "  --cluster URL         the NATS server between the nodes, nats://HOST:PORT\n"
    "  --store URL           the Redis server with the directory, presence and room homes, "
    "redis://HOST:PORT\n"
    "  --status              print the figures every node keeps in the store, then exit\n"
    "\n"
    "See velmor(1).\n";

// The first line of `path`, without trailing carriage returns and blanks; empty when there is none.
std::string read_secret(const std::string& path) {
    std::ifstream f(path);
    std::string secret;
    if (!std::getline(f, secret))
        return "";
    while (!secret.empty() && (secret.back() == '\r' || secret.back() == ' '))
        secret.pop_back();
    return secret;
}

} // namespace

Answer answer_for(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--version")
            return Answer::Version;
        if (a == "--help" || a == "-h")
            return Answer::Help;
    }
    return Answer::None;
}

const char* usage_text() {
    return kUsage;
}

const char* help_text() {
    static const std::string help = std::string(kUsage) + kHelp;
    return help.c_str();
}

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

std::optional<Fault> parse_command_line(const std::vector<std::string>& args, CommandLine* out) {
    bool room_server = false, status = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        auto value = [&] {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        if (a == "--room-server") {
            room_server = true;
        } else if (a == "--status") {
            status = true;
        } else if (a == "--listen" && value()) {
            if (!parse_endpoint(v, &out->listen))
                return Fault{2, ""};
        } else if (a == "--node" && value()) {
            out->node = v;
        } else if (a == "--cluster" && value()) {
            out->nats_url = v;
        } else if (a == "--store" && value()) {
            out->store_url = v;
        } else if (a == "--threads" && value()) {
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 1 || n > 64)
                return Fault{2, ""};
            out->threads = int(n);
        } else if (a == "--link-timeout" && value()) {
            char* end = nullptr;
            const long ms = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || (ms != 0 && (ms < 1000 || ms > 3600000)))
                return Fault{2, ""};
            out->link_timeout_ms = int(ms);
        } else if (a == "--report-port" && value()) {
            char* end = nullptr;
            const long fd = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || fd < 0 || fd > 65535)
                return Fault{2, ""};
            out->report_fd = int(fd);
        } else if (a == "--directory" && value()) {
            out->directory = v;
        } else if (a == "--secret" && value()) {
            out->secret = v;
        } else if (a == "--secret-file" && value()) {
            // Better than --secret: a command line can be read by every user of the machine.
            out->secret = read_secret(v);
            if (out->secret.empty())
                return Fault{1, "cannot read a secret from " + v};
        } else {
            return Fault{2, ""};
        }
    }
    if (room_server && out->listen.port() == 0 && out->listen.address().is_unspecified())
        return Fault{2, ""};
    if (status) {
        if (out->store_url.empty())
            return Fault{2, ""};
        out->run = Run::Status;
        return std::nullopt;
    }
    if (out->clustered() &&
        (!room_server || out->nats_url.empty() || out->store_url.empty() || out->node.empty()))
        return Fault{2, ""};
    out->run = room_server ? Run::RoomServer : Run::LocalService;
    return std::nullopt;
}

bool parse_room_servers(const std::string& text, std::vector<Relay::Upstream>* out) {
    std::vector<Relay::Upstream> servers;
    std::string item;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ',' && text[i] != ' ') {
            item += text[i];
            continue;
        }
        if (item.empty())
            continue;
        const size_t colon = item.rfind(':');
        char* end = nullptr;
        const long port = colon == std::string::npos ? 0 : std::strtol(item.c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || colon == 0 || *end != '\0' || port <= 0 || port > 65535 ||
            servers.size() >= 16)
            return false;
        servers.push_back(Relay::Upstream{item.substr(0, colon), uint16_t(port)});
        item.clear();
    }
    *out = std::move(servers);
    return true;
}

std::optional<Fault> local_service_settings(const std::string& settings, LocalServiceOptions* out,
                                            std::string* directory) {
    // "any": the port the system picks, which the service reports (--report-port).
    const int port = service_port_setting(settings, kDefaultServicePort);
    out->listen = asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), uint16_t(port));
    out->max_clients = 1;
    out->voice = true;
    out->voice_config.play_device = settings_get_int("media", "play_deviceid", -1, settings);
    out->own_user_only = true;
    // Its own room serves one client: a reconnect from this machine takes the seat over.
    out->hub.session_tokens = false;
    out->exit_when_idle_ms = kIdleExitMs;
    out->exit_if_unused_ms = kUnusedExitMs;
    // Looked up at every login, not now.
    const std::string servers = settings_get_string("room", "server", "", settings);
    if (!parse_room_servers(servers, &out->room_servers))
        return Fault{1, "bad [room] server=" + servers};
    // A room server silent this long is given up, and the client reconnects; 0: never.
    const int link_timeout = settings_get_int("room", "link_timeout_ms", kDefaultLinkTimeoutMs, settings);
    out->upstream_link_timeout_ms = link_timeout > 0 ? std::max(link_timeout, 1000) : 0;
    *directory = settings_get_string("room", "directory", "", settings);
    out->hub.secret = settings_get_string("auth", "secret", "", settings);
    return std::nullopt;
}

std::optional<Fault> load_directory(const std::string& path, room::HubConfig& hub) {
    if (path.empty())
        return std::nullopt;
    std::vector<std::string> warnings;
    if (!hub.directory.load(path, &warnings))
        return Fault{1, "cannot read the user directory " + path};
    for (const std::string& w : warnings)
        service_log(w);
    return std::nullopt;
}

} // namespace velmor
