// A private X desktop for tests (see desktop.h).
#include "desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>

#include <cstdio>
#include <sstream>

namespace {

// Reads a child's whole standard output and waits for it.
std::string run_program(const std::vector<std::string>& args, const std::string& display, int* status) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, size_t(n));
    close(out[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    if (status)
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
    return text;
}

void stop(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

Desktop::Desktop(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = "no pipe";
        return;
    }
    server_ = fork();
    if (server_ == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const std::string fd = std::to_string(fds[1]);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The server writes its display number once it accepts connections.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    for (int waited = 0; waited < 20000 && number.find('\n') == std::string::npos;) {
        if (poll(&p, 1, 200) > 0) {
            char buf[32];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            number.append(buf, size_t(n));
        } else {
            waited += 200;
        }
    }
    close(fds[0]);
    if (number.empty()) {
        error_ = "Xvfb did not start";
        return;
    }
    display_ = std::stoi(number);

    window_manager_ = fork();
    if (window_manager_ == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        setenv("DISPLAY", display().c_str(), 1);
        execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The window manager announces itself on the root window.
    ready_ = eventually(
        [&] {
            return run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") != std::string::npos;
        },
        20000);
    if (!ready_)
        error_ = "openbox did not start on " + display();
}

Desktop::~Desktop() {
    stop(window_manager_);
    stop(server_);
}

std::string Desktop::run(const std::vector<std::string>& args, int* status) const {
    return run_program(args, display(), status);
}

void Desktop::move(int x, int y) const {
    run({"xdotool", "mousemove", "--sync", std::to_string(x), std::to_string(y)});
}

void Desktop::click(int x, int y, int button) const {
    move(x, y);
    run({"xdotool", "click", std::to_string(button)});
}

void Desktop::double_click(int x, int y) const {
    move(x, y);
    run({"xdotool", "click", "--repeat", "2", "--delay", "80", "1"});
}

void Desktop::drag(int x0, int y0, int x1, int y1) const {
    move(x0, y0);
    run({"xdotool", "mousedown", "1"});
    constexpr int kSteps = 10;
    for (int i = 1; i <= kSteps; ++i) {
        run({"xdotool", "mousemove", std::to_string(x0 + (x1 - x0) * i / kSteps),
             std::to_string(y0 + (y1 - y0) * i / kSteps)});
        usleep(30000);
    }
    usleep(100000);
    run({"xdotool", "mouseup", "1"});
}

void Desktop::key(const std::string& keys) const {
    run({"xdotool", "key", "--delay", "60", keys});
}

void Desktop::type(const std::string& utf8) const {
    run({"xdotool", "type", "--delay", "30", utf8});
}

QImage Desktop::screenshot(const std::string& save_as) const {
    char name[] = "/tmp/quorin-shot-XXXXXX.png";
    const int fd = mkstemps(name, 4);
    if (fd < 0)
        return {};
    close(fd);
    run({"import", "-window", "root", name});
    QImage image(QString::fromUtf8(name));
    if (!save_as.empty()) {
        QFile::remove(QString::fromStdString(save_as));
        QFile::copy(QString::fromUtf8(name), QString::fromStdString(save_as));
    }
    unlink(name);
    return image;
}

std::vector<std::pair<unsigned long, QRect>> Desktop::windows_of(pid_t pid) const {
    std::vector<std::pair<unsigned long, QRect>> out;
    std::istringstream ids(run({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)}));
    for (unsigned long id; ids >> id;) {
        std::istringstream geo(run({"xdotool", "getwindowgeometry", "--shell", std::to_string(id)}));
        int x = 0, y = 0, w = 0, h = 0;
        for (std::string line; std::getline(geo, line);) {
            const auto eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string key = line.substr(0, eq);
            const int value = std::atoi(line.c_str() + eq + 1);
            if (key == "X")
                x = value;
            else if (key == "Y")
                y = value;
            else if (key == "WIDTH")
                w = value;
            else if (key == "HEIGHT")
                h = value;
        }
        out.emplace_back(id, QRect(x, y, w, h));
    }
    return out;
}

unsigned long Desktop::focused_window() const {
    return std::strtoul(run({"xdotool", "getwindowfocus", "-f"}).c_str(), nullptr, 10);
}

std::map<std::string, QRect> read_widget_list(const std::string& file) {
    std::map<std::string, QRect> out;
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 5)
            continue;
        // A path may hold blanks (button texts): the last four fields are the rectangle.
        const int n = int(parts.size());
        QByteArray path = parts[0];
        for (int i = 1; i < n - 4; ++i)
            path += ' ' + parts[i];
        out[path.toStdString()] =
            QRect(parts[n - 4].toInt(), parts[n - 3].toInt(), parts[n - 2].toInt(), parts[n - 1].toInt());
    }
    return out;
}

int count_pixels(const QImage& image, const QRect& area, QRgb colour, int tolerance) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += std::abs(qRed(p) - qRed(colour)) <= tolerance &&
                 std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
                 std::abs(qBlue(p) - qBlue(colour)) <= tolerance;
        }
    return n;
}
