// Start-up and shutdown: from process start to the window shown, to its first paint done (the window and its
// panels drawn: reported as soon as that paint pass is over, before whatever was queued meanwhile, such as
// the login's answer), and to "登录成功" (the client started its service and logged in to the embedded room);
// then from SIGTERM (which closes the window like its close button) to the process gone, and to its service
// gone as well. The peers are a bare Qt dialog of the same size started and closed the same way (the goal's
// peer: window shown within 1.5 times it), and the same dialog with one line of Chinese text. Any window with
// words sets up the fonts, which the bare dialog never does: fontconfig reads its configuration files (every
// template of its conf.avail folder too), Qt builds its font database, and Chinese text in the Latin default
// family sorts the fallback list. The dialog with text shows what that costs on its own; its ratio against
// the bare dialog is printed as the floor of any window with Chinese text here, beside the client's ratio
// against each peer. They run on Qt's offscreen platform in a private install folder, started alternately
// several times; the median and the range over the runs are printed with the ratio. Beside the wall-clock
// times, the processor time the process had used when its window was seen (all its threads, from the
// scheduler's accounting): on a machine shared with other work the wall clock mostly measures the wait for a
// processor, the processor time what the program itself does.
#include <signal.h>
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

constexpr int kRuns = 11;

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

// "median (min-max)" of a set of runs.
std::string spread(const std::vector<double>& v) {
    char text[96];
    std::snprintf(text, sizeof text, "%7.1f ms (%.1f-%.1f)", median(v), *std::min_element(v.begin(), v.end()),
                  *std::max_element(v.begin(), v.end()));
    return text;
}

// Processor time used so far by every thread of `pid`, in milliseconds (-1 when it cannot be read).
double cpu_ms(pid_t pid) {
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    double ns = 0;
    bool any = false;
    for (const auto& task : fs::directory_iterator(tasks, ec)) {
        std::ifstream in(task.path() / "schedstat");
        double on_cpu = 0;
        if (in >> on_cpu) {
            ns += on_cpu;
            any = true;
        }
    }
    return any ? ns / 1e6 : -1;
}

double since_ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Run {
    double shown = -1;
    double cpu_shown = -1; // processor time of the process when the window was seen
    double painted = -1;
    double cpu_painted = -1;
    double logged_in = -1;
    double closed = -1;   // SIGTERM to the process gone
    double all_gone = -1; // SIGTERM to the process and its service gone
};

Run run(const fs::path& folder, const std::string& program, const std::vector<std::string>& args, bool login,
        bool text = false) {
    const fs::path report = folder / "report.txt";
    fs::remove(report);
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                          std::string("QUORIN_BARE_TEXT=") + (text ? "1" : "0"),
                                          "QUORIN_NONINTERACTIVE=1",
                                          "XDG_RUNTIME_DIR=" + (folder / "run").string(),
                                          "QUORIN_REPORT=" + report.string(),
                                          "QUORIN_EXIT_AFTER_MS=20000",
                                          "QUORIN_BARE_STAY=1"};
    const auto start = Clock::now();
    std::string command = "exec ./" + program;
    for (const std::string& a : args)
        command += " '" + a + "'";
    const pid_t pid = spawn_process("/bin/sh", {"-c", command + " 2>/dev/null"}, folder.string(), env);
    Run r;
    r.shown = wait_for(report, "shown=1\n", start);
    r.cpu_shown = cpu_ms(pid);
    r.painted = wait_for(report, "painted=1\n", start);
    r.cpu_painted = cpu_ms(pid);
    if (login)
        r.logged_in = wait_for(report, "notice=登录成功！\n", start);
    // Closing: the window closes on SIGTERM as on its close button.
    const std::vector<pid_t> services = find_own_processes_by_exe((folder / "velmor").string());
    const auto close_start = Clock::now();
    kill(pid, SIGTERM);
    if (wait_process(pid, 10000))
        r.closed = since_ms(close_start);
    else
        terminate_process(pid);
    for (pid_t service : services)
        while (process_running(service) && since_ms(close_start) < 10000)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    r.all_gone = since_ms(close_start);
    for (pid_t service : find_own_processes_by_exe((folder / "velmor").string()))
        terminate_process(service);
    return r;
}

} // namespace

// Arguments: the build folder (default "build"), and optionally another quorin program (an earlier build that
// reports its first paint) started alternately with the others, for a before/after comparison.
int main(int argc, char** argv) {
    const fs::path built = argc > 1 ? fs::path(argv[1]) : fs::path("build");
    const fs::path before = argc > 2 ? fs::path(argv[2]) : fs::path();
    const fs::path folder = fs::temp_directory_path() / ("quorin-startup-" + std::to_string(getpid()));
    fs::create_directories(folder / "run");
    fs::permissions(folder / "run", fs::perms::owner_all);
    fs::create_directories(folder / "log");
    for (const char* f : {"quorin", "velmor"})
        fs::copy_file(built / "out" / f, folder / f);
    fs::copy_file(built / "bench" / "bare_dialog", folder / "bare_dialog");
    if (!before.empty())
        fs::copy_file(before, folder / "quorin_before");
    fs::copy(built / "out" / "ui", folder / "ui", fs::copy_options::recursive);
    std::ofstream(folder / "user.txt") << "[network]\nport=" << (20000 + getpid() % 20000) << "\n";

    // Per program: the figures of each run.
    struct Figures {
        std::vector<double> shown, cpu_shown, painted, cpu_painted, logged_in, closed, all_gone;
        void add(const Run& r) {
            shown.push_back(r.shown);
            cpu_shown.push_back(r.cpu_shown);
            painted.push_back(r.painted);
            cpu_painted.push_back(r.cpu_painted);
            logged_in.push_back(r.logged_in);
            closed.push_back(r.closed);
            all_gone.push_back(r.all_gone);
        }
    } bare, text, client, earlier;
    for (int i = 0; i < kRuns; ++i) {
        bare.add(run(folder, "bare_dialog", {}, false));
        text.add(run(folder, "bare_dialog", {}, false, true));
        client.add(run(folder, "quorin", {"userid=1001&roomid=1&subject=bench"}, true));
        if (!before.empty())
            earlier.add(run(folder, "quorin_before", {"userid=1001&roomid=1&subject=bench"}, true));
    }
    fs::remove_all(folder);

    double load[3] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
            load[0] = -1;
        std::fclose(f);
    }
    std::printf("== startup_bench (%d runs each, alternated; median (min-max); offscreen; load average after "
                "the runs %.2f %.2f %.2f)\n",
                kRuns, load[0], load[1], load[2]);
    auto ratios = [&](const char* what, const std::vector<double> Figures::*figure) {
        const double c = median(client.*figure), b = median(bare.*figure), t = median(text.*figure);
        std::printf(
            "%-34s %.2f against the bare dialog (goal: at most 1.5); %.2f against the dialog with text\n",
            what, c / b, c / t);
        std::printf("%-34s %.2f (the dialog with text against the bare dialog: the fonts' share alone)\n",
                    "  floor of a window with text:", t / b);
    };
    std::printf("window shown, wall clock:\n");
    std::printf("  bare Qt dialog:                  %s\n", spread(bare.shown).c_str());
    std::printf("  dialog with a line of text:      %s\n", spread(text.shown).c_str());
    std::printf("  quorin:                          %s\n", spread(client.shown).c_str());
    ratios("  ratio:", &Figures::shown);
    std::printf("window shown, processor time:\n");
    std::printf("  bare Qt dialog:                  %s\n", spread(bare.cpu_shown).c_str());
    std::printf("  dialog with a line of text:      %s\n", spread(text.cpu_shown).c_str());
    std::printf("  quorin:                          %s\n", spread(client.cpu_shown).c_str());
    ratios("  ratio:", &Figures::cpu_shown);
    std::printf("first paint done, wall clock:\n");
    std::printf("  bare Qt dialog:                  %s\n", spread(bare.painted).c_str());
    std::printf("  dialog with a line of text:      %s\n", spread(text.painted).c_str());
    std::printf("  quorin:                          %s\n", spread(client.painted).c_str());
    ratios("  ratio:", &Figures::painted);
    std::printf("first paint done, processor time:\n");
    std::printf("  bare Qt dialog:                  %s\n", spread(bare.cpu_painted).c_str());
    std::printf("  dialog with a line of text:      %s\n", spread(text.cpu_painted).c_str());
    std::printf("  quorin:                          %s\n", spread(client.cpu_painted).c_str());
    ratios("  ratio:", &Figures::cpu_painted);
    if (!before.empty()) {
        std::printf("earlier build (%s), window shown:\n", before.c_str());
        std::printf("  wall clock:                      %s (this build / earlier: %.2f)\n",
                    spread(earlier.shown).c_str(), median(client.shown) / median(earlier.shown));
        std::printf("  processor time:                  %s (this build / earlier: %.2f)\n",
                    spread(earlier.cpu_shown).c_str(), median(client.cpu_shown) / median(earlier.cpu_shown));
        std::printf("  first paint done, wall clock:    %s (this build / earlier: %.2f)\n",
                    spread(earlier.painted).c_str(), median(client.painted) / median(earlier.painted));
        std::printf("  first paint done, processor:     %s (this build / earlier: %.2f)\n",
                    spread(earlier.cpu_painted).c_str(),
                    median(client.cpu_painted) / median(earlier.cpu_painted));
        std::printf("  logged in:                       %s\n", spread(earlier.logged_in).c_str());
    }
    const double s = median(client.shown), l = median(client.logged_in);
    std::printf("quorin logged in:                  %s\n", spread(client.logged_in).c_str());
    std::printf("logged in after the window was shown: %.1f ms; from process start: %.1f ms (goal: 150 ms)\n",
                l - s, l);
    std::printf("bare Qt dialog, SIGTERM to gone:       %s\n", spread(bare.closed).c_str());
    std::printf("quorin, SIGTERM to gone:               %s\n", spread(client.closed).c_str());
    std::printf("quorin, SIGTERM to it and velmor gone: %s\n", spread(client.all_gone).c_str());
    std::printf("ratio close to gone / bare dialog: %.2f; close to all gone: %.1f ms (goal: 300 ms)\n",
                median(client.closed) / median(bare.closed), median(client.all_gone));
    return 0;
}
