// velmor's command line and the local service's settings, read into what the program runs: the local service,
// the room server (alone or as one node of a cluster) or the cluster's status. Plain functions, no I/O beyond
// the files named on the command line or in the settings.
#pragma once

#include <asio.hpp>

#include <optional>
#include <string>
#include <vector>

#include "service/local_service.h"
#include "service/relay.h"
#include "wire/defaults.h"

namespace velmor {

enum class Run { LocalService, RoomServer, Status };

struct CommandLine {
    Run run = Run::LocalService;
    asio::ip::tcp::endpoint listen;
    std::string directory; // the user directory file
    std::string secret;    // the login keys' secret
    // A node of a cluster (all three), or, for the status, the store alone.
    std::string node, nats_url, store_url;
    int threads = 0; // room server: threads that serve its rooms; 0: one a core
    // Room server: a connection silent this long is closed (milliseconds); 0: never.
    int link_timeout_ms = kDefaultLinkTimeoutMs;
    // A descriptor of the parent's, open in this process, where the port it listens on is written (the
    // decimal number and a newline) once it listens; then it is closed. -1: none.
    int report_fd = -1;
    bool clustered() const { return !node.empty() || !nats_url.empty() || !store_url.empty(); }
};

// --help or --version anywhere on the line: answered before anything else, on standard output.
enum class Answer { None, Help, Version };
Answer answer_for(const std::vector<std::string>& args);
// The usage lines (for standard error with a wrong command line) and the whole help.
const char* usage_text();
const char* help_text();

// Why the program cannot go on: status 2 for a wrong command line (the usage goes to standard error), 1 for a
// failure; `line` for the log (may be empty).
struct Fault {
    int status = 2;
    std::string line;
};

// Reads the arguments (without the program's name). A secret file is read here.
std::optional<Fault> parse_command_line(const std::vector<std::string>& args, CommandLine* out);

// ADDR:PORT, the address numeric or "localhost".
bool parse_endpoint(const std::string& text, asio::ip::tcp::endpoint* out);

// HOST:PORT, HOST a name or an address; several (the nodes of a cluster) separated by commas or spaces, 16 at
// most. False when one is malformed.
bool parse_room_servers(const std::string& text, std::vector<Relay::Upstream>* out);

// The local service as its settings file (user.txt) sets it up: its port, the playback device, the room
// servers to relay to, and its own room's directory file (into `*directory`) and secret.
std::optional<Fault> local_service_settings(const std::string& settings_file, LocalServiceOptions* out,
                                            std::string* directory);

// Reads a user directory into `hub` (none when `path` is empty); its warnings go to the log.
std::optional<Fault> load_directory(const std::string& path, room::HubConfig& hub);

} // namespace velmor
