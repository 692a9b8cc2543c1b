// Start-up: from process start to the window shown, and to "登录成功" (the client started its service and
// logged in to the embedded room). The peer is a bare Qt dialog of the same size started the same way. Both
// run on Qt's offscreen platform in a private install folder; each is started several times and the median
// is printed with the ratio.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 7;

std::string read_all(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Milliseconds from start until `line` is in the report, or -1 after 20 s.
double wait_for(const fs::path& report, const std::string& line, Clock::time_point start) {
    while (Clock::now() - start < std::chrono::seconds(20)) {
        if (read_all(report).find(line) != std::string::npos)
            return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

struct Run {
    double shown = -1;
    double logged_in = -1;
};

Run run(const fs::path& folder, const std::string& program, const std::vector<std::string>& args,
        bool login) {
    const fs::path report = folder / "report.txt";
    fs::remove(report);
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "QUORIN_NONINTERACTIVE=1",
                                          "XDG_RUNTIME_DIR=" + (folder / "run").string(),
                                          "QUORIN_REPORT=" + report.string(), "QUORIN_EXIT_AFTER_MS=20000"};
    const auto start = Clock::now();
    std::string command = "exec ./" + program;
    for (const std::string& a : args)
        command += " '" + a + "'";
    const pid_t pid = spawn_process("/bin/sh", {"-c", command + " 2>/dev/null"}, folder.string(), env);
    Run r;
    r.shown = wait_for(report, "shown=1\n", start);
    if (login)
        r.logged_in = wait_for(report, "notice=登录成功！\n", start);
    terminate_process(pid);
    // The client's own service ends by itself once its client is gone; make sure before the next run.
    for (pid_t service : find_own_processes_by_exe((folder / "velmor").string()))
        terminate_process(service);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path built = argc > 1 ? fs::path(argv[1]) : fs::path("build");
    const fs::path folder = fs::temp_directory_path() / ("quorin-startup-" + std::to_string(getpid()));
    fs::create_directories(folder / "run");
    fs::permissions(folder / "run", fs::perms::owner_all);
    fs::create_directories(folder / "log");
    for (const char* f : {"quorin", "velmor"})
        fs::copy_file(built / "out" / f, folder / f);
    fs::copy_file(built / "bench" / "bare_dialog", folder / "bare_dialog");
    fs::copy(built / "out" / "ui", folder / "ui", fs::copy_options::recursive);
    std::ofstream(folder / "user.txt") << "[network]\nport=" << (20000 + getpid() % 20000) << "\n";

    std::vector<double> bare, shown, logged_in;
    for (int i = 0; i < kRuns; ++i) {
        bare.push_back(run(folder, "bare_dialog", {}, false).shown);
        Run r = run(folder, "quorin", {"userid=1001&roomid=1&subject=bench"}, true);
        shown.push_back(r.shown);
        logged_in.push_back(r.logged_in);
    }
    fs::remove_all(folder);

    const double b = median(bare), s = median(shown), l = median(logged_in);
    std::printf("== startup_bench (%d runs each, medians, offscreen)\n", kRuns);
    std::printf("bare Qt dialog shown:        %7.1f ms\n", b);
    std::printf("quorin window shown:         %7.1f ms\n", s);
    std::printf("quorin logged in:            %7.1f ms\n", l);
    std::printf("ratio window shown / bare dialog: %.2f (goal: at most 1.5)\n", s / b);
    std::printf("logged in after the window was shown: %.1f ms; from process start: %.1f ms (goal: 150 ms)\n",
                l - s, l);
    return 0;
}
