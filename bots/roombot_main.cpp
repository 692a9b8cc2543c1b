// roombot: scripted users in a room server.
//   roombot --server HOST:PORT[,HOST:PORT...] --load [--rooms N] [--users N] [--cameras N] [--fps N]
//           [--frame-bytes N] [--chat LINES_PER_S] [--speakers N] [--seconds S] [--server-pid PID[,PID...]]
//       fills rooms with users and prints what arrived, how late, and the server's CPU and memory; with
//       several servers (a cluster's nodes) every room's users are spread over them.
//   roombot --server HOST:PORT --scenario lesson|FILE [--client-user ID] [--web PORT] [--seconds S]
//           [--exit-with PID]
//       plays a scenario (see bots/scenario.h and the README), with the room's web host when --web is given.
//   roombot --scenario lesson|FILE --write-directory FILE [--client-user ID --client-name NAME]
//       writes the room server's user directory for the scenario (GBK) and ends.
#include <QGuiApplication>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "bots/lesson_run.h"
#include "bots/load_run.h"
#include "bots/pictures.h"
#include "bots/scenario.h"
#include "bots/web_host.h"
#include "platform/text.h"

namespace {

std::atomic<bool> g_stop{false};

constexpr const char* kUsage =
    "usage: roombot --server HOST:PORT --load [--rooms N] [--users N] [--cameras N] [--fps N]\n"
    "               [--frame-bytes N] [--chat N] [--speakers N] [--seconds S] [--server-pid PID]\n"
    "       roombot --server HOST:PORT --scenario lesson|FILE [--client-user ID] [--web PORT]\n"
    "               [--seconds S] [--exit-with PID]\n"
    "       roombot --scenario lesson|FILE --write-directory FILE [--client-user ID]\n"
    "               [--client-name NAME]\n"
    "       roombot --help | --version\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// --help and --version: on standard output, status 0.
bool answer_option(const std::string& a) {
    if (a == "--version") {
        std::printf("roombot %s\n", QUORIN_VERSION);
        return true;
    }
    if (a != "--help" && a != "-h")
        return false;
    std::fputs(kUsage, stdout);
    std::fputs(
        "\n"
        "Scripted users of a quorin room server, for demonstrations, tests and load runs.\n"
        "  --load          fill rooms with users and report what arrived, how late, and the server's\n"
        "                  CPU and memory (with --server-pid)\n"
        "  --scenario S    play the scenario 'lesson' or a scenario file; with --web PORT also serve the\n"
        "                  room's web host (user pictures, help page) on 127.0.0.1\n"
        "  --write-directory FILE  write the room server's user directory for the scenario\n"
        "\n"
        "See roombot(1).\n",
        stdout);
    return true;
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
    std::string scenario_name, directory_file, client_name;
    double web_port = -1, client_user = 0, exit_with = 0, seconds = 0;
    for (int i = 1; i < argc; ++i)
        if (answer_option(argv[i]))
            return 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](double* out) {
            if (i + 1 >= argc)
                return false;
            char* end = nullptr;
            *out = std::strtod(argv[++i], &end);
            return *end == 0 && *out >= 0;
        };
        auto text = [&](std::string* out) {
            if (i + 1 >= argc)
                return false;
            *out = argv[++i];
            return true;
        };
        double v = 0;
        if (a == "--load") {
            load_mode = true;
        } else if (a == "--server" && i + 1 < argc) {
            // HOST:PORT, or for a load run several (the nodes of a cluster) separated by commas.
            std::stringstream list(argv[++i]);
            std::string item;
            bool first = true;
            while (std::getline(list, item, ',')) {
                std::pair<std::string, uint16_t> server;
                if (!parse_server(item, &server.first, &server.second)) {
                    std::fprintf(stderr, "roombot: --server wants HOST:PORT, not '%s'\n", item.c_str());
                    return 2;
                }
                if (first) {
                    load.host = server.first;
                    load.port = server.second;
                } else {
                    load.more_servers.push_back(server);
                }
                first = false;
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
        } else if (a == "--speakers" && number(&v)) {
            load.speakers_per_room = int(v);
        } else if (a == "--chat" && number(&v)) {
            load.chat_per_second = v;
        } else if (a == "--seconds" && number(&v) && v > 0) {
            load.seconds = seconds = v;
        } else if (a == "--server-pid" && i + 1 < argc) {
            std::stringstream list(argv[++i]);
            std::string item;
            while (std::getline(list, item, ',')) {
                const int pid = std::atoi(item.c_str());
                if (pid <= 0) {
                    std::fprintf(stderr, "roombot: --server-pid wants PID[,PID...], not '%s'\n", argv[i]);
                    return 2;
                }
                if (!load.server_pid)
                    load.server_pid = pid;
                else
                    load.more_pids.push_back(pid);
            }
        } else if (a == "--scenario" && text(&scenario_name)) {
        } else if (a == "--write-directory" && text(&directory_file)) {
        } else if (a == "--client-name" && text(&client_name)) {
        } else if (a == "--client-user" && number(&client_user) && client_user < 4294967295.0) {
        } else if (a == "--web" && number(&web_port) && web_port < 65536) {
        } else if (a == "--exit-with" && number(&exit_with)) {
        } else {
            std::fprintf(stderr, "roombot: unknown or incomplete argument '%s'\n", a.c_str());
            return usage();
        }
    }
    if (load_mode) {
        if (load.port == 0)
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
    if (scenario_name.empty())
        return usage();

    std::string text;
    if (scenario_name == "lesson") {
        text = bots::lesson_scenario_text();
    } else {
        std::ifstream f(scenario_name);
        if (!f) {
            std::fprintf(stderr, "roombot: cannot read %s\n", scenario_name.c_str());
            return 1;
        }
        std::stringstream ss;
        ss << f.rdbuf();
        text = ss.str();
    }
    std::string error;
    auto scenario = bots::parse_scenario(text, &error);
    if (!scenario) {
        std::fprintf(stderr, "roombot: %s: %s\n", scenario_name.c_str(), error.c_str());
        return 1;
    }

    if (!directory_file.empty()) {
        std::ofstream out(directory_file);
        out << "# users of the scenario " << scenario_name << "\n";
        for (const auto& u : scenario->users)
            out << "user " << u.id << " " << utf8_to_gbk(u.nickname) << "\n";
        if (client_user > 0 && !client_name.empty())
            out << "user " << uint32_t(client_user) << " " << utf8_to_gbk(client_name) << "\n";
        if (const auto* host = scenario->host())
            out << "host " << scenario->room << " " << host->id << "\n";
        if (!out) {
            std::fprintf(stderr, "roombot: cannot write %s\n", directory_file.c_str());
            return 1;
        }
        return 0;
    }
    if (load.port == 0)
        return usage();

    // Drawing needs a GUI application; no window is ever shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    signal(SIGTERM, [](int) { g_stop = true; });
    signal(SIGINT, [](int) { g_stop = true; });
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<bots::WebHost> web;
    if (web_port >= 0) {
        std::map<uint32_t, std::string> names;
        for (const auto& u : scenario->users)
            names[u.id] = u.nickname;
        if (client_user > 0 && !client_name.empty())
            names[uint32_t(client_user)] = client_name;
        web = std::make_unique<bots::WebHost>(names);
        if (!web->start(uint16_t(web_port))) {
            std::fprintf(stderr, "roombot: cannot serve on 127.0.0.1:%d\n", int(web_port));
            return 1;
        }
        std::printf("roombot: web host on 127.0.0.1:%u\n", web->port());
        std::fflush(stdout);
    }
    // With --exit-with, the lesson ends when that process does (the client of the demo).
    std::thread watch;
    if (exit_with > 0)
        watch = std::thread([pid = int(exit_with)] {
            while (!g_stop && kill(pid, 0) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            g_stop = true;
        });
    bots::LessonConfig config;
    config.host = load.host;
    config.port = load.port;
    config.client_user = uint32_t(client_user);
    config.seconds = seconds;
    config.stop = &g_stop;
    const std::string course = scenario->course;
    config.slide = [course](uint8_t* yuyv, uint32_t n) { bots::draw_slide(yuyv, course, n); };
    config.log = [](const std::string& line) { std::fprintf(stderr, "roombot: %s\n", line.c_str()); };
    const bool ok = bots::run_lesson(*scenario, config, &error);
    g_stop = true;
    if (watch.joinable())
        watch.join();
    if (!ok) {
        std::fprintf(stderr, "roombot: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
