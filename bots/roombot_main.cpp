// roombot: scripted users in a room server.
//   roombot --server HOST:PORT --load [--rooms N] [--users N] [--cameras N] [--fps N] [--frame-bytes N]
//           [--chat LINES_PER_S] [--seconds S] [--server-pid PID]
// runs a load and prints what arrived, how late, and (with a pid) the server's CPU and memory.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bots/load_run.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: roombot --server HOST:PORT --load [--rooms N] [--users N] [--cameras N] "
                         "[--fps N] [--frame-bytes N] [--chat N] [--seconds S] [--server-pid PID]\n");
    return 2;
}

bool parse_server(const std::string& s, std::string* host, uint16_t* port) {
    auto colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    char* end = nullptr;
    long p = std::strtol(s.c_str() + colon + 1, &end, 10);
    if (*end || p <= 0 || p > 65535)
        return false;
    *host = s.substr(0, colon);
    *port = uint16_t(p);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bots::LoadConfig load;
    bool load_mode = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](double* out) {
            if (i + 1 >= argc)
                return false;
            char* end = nullptr;
            *out = std::strtod(argv[++i], &end);
            return *end == 0 && *out >= 0;
        };
        double v = 0;
        if (a == "--load") {
            load_mode = true;
        } else if (a == "--server" && i + 1 < argc) {
            if (!parse_server(argv[++i], &load.host, &load.port)) {
                std::fprintf(stderr, "roombot: --server wants HOST:PORT, not '%s'\n", argv[i]);
                return 2;
            }
        } else if (a == "--rooms" && number(&v) && v >= 1) {
            load.rooms = int(v);
        } else if (a == "--users" && number(&v) && v >= 2) {
            load.users_per_room = int(v);
        } else if (a == "--cameras" && number(&v)) {
            load.cameras_per_room = int(v);
        } else if (a == "--fps" && number(&v)) {
            load.fps = int(v);
        } else if (a == "--frame-bytes" && number(&v)) {
            load.frame_bytes = size_t(v);
        } else if (a == "--chat" && number(&v)) {
            load.chat_per_second = v;
        } else if (a == "--seconds" && number(&v) && v > 0) {
            load.seconds = v;
        } else if (a == "--server-pid" && number(&v)) {
            load.server_pid = int(v);
        } else {
            std::fprintf(stderr, "roombot: unknown or incomplete argument '%s'\n", a.c_str());
            return usage();
        }
    }
    if (!load_mode || load.port == 0)
        return usage();
    std::string error;
    bots::LoadReport report = bots::run_load(load, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "roombot: %s\n", error.c_str());
        return 1;
    }
    std::fputs(bots::format_report(load, report).c_str(), stdout);
    return 0;
}
