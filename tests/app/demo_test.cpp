// `make run` without a display: the demo lesson runs, the screenshot shows it (users, a remote camera, chat)
// and nothing the demo started outlives the client.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "eventually.h"
#include "platform/process.h"
#include "temp_dir.h"

namespace {

// Processes that have anything (working folder, an open file, their command line) inside `folder`.
std::vector<std::string> processes_touching(const std::string& folder) {
    std::vector<std::string> found;
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0])) || std::stoi(e->d_name) == getpid())
            continue;
        const std::string base = std::string("/proc/") + e->d_name;
        std::ifstream cmd(base + "/cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
        bool touches = cmdline.find(folder) != std::string::npos;
        std::error_code ec;
        for (const auto& link : {std::string("/cwd")}) {
            auto target = std::filesystem::read_symlink(base + link, ec);
            touches = touches || (!ec && target.string().rfind(folder, 0) == 0);
        }
        for (std::filesystem::directory_iterator fd(base + "/fd", ec), end; !ec && fd != end;
             fd.increment(ec)) {
            auto target = std::filesystem::read_symlink(fd->path(), ec);
            touches = touches || (!ec && target.string().rfind(folder, 0) == 0);
        }
        if (touches)
            found.push_back(std::string(e->d_name) + " " + cmdline.substr(0, cmdline.find('\0')));
    }
    if (proc)
        closedir(proc);
    return found;
}

// The mean difference per channel between two equally large rectangles of the picture.
double difference(const QImage& image, QRect a, QRect b) {
    double sum = 0;
    int n = 0;
    for (int y = 0; y < a.height(); y += 2)
        for (int x = 0; x < a.width(); x += 2, ++n) {
            const QRgb p = image.pixel(a.x() + x, a.y() + y), q = image.pixel(b.x() + x, b.y() + y);
            sum +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return n ? sum / (3.0 * n) : 0;
}

// The share of pixels in a rectangle that are far from its most common colour (text, faces, pictures).
double ink(const QImage& image, QRect r) {
    std::map<QRgb, int> count;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++count[image.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (const auto& [c, k] : count)
        if (k > most)
            most = k, background = c;
    int far = 0;
    for (const auto& [c, k] : count)
        if (std::abs(qRed(c) - qRed(background)) + std::abs(qGreen(c) - qGreen(background)) +
                std::abs(qBlue(c) - qBlue(background)) >
            120)
            far += k;
    return double(far) / double(r.width() * r.height());
}

// What the run report says of the lesson so far: the users shown, chat lines with faces, and for each
// watched camera how often its picture moved on (its frame count grew).
struct LessonSeen {
    bool seven_users = false;
    bool faces = false;
    std::map<std::string, int> updates;
    bool in_full_swing() const {
        if (!seven_users || !faces || updates.size() < 2)
            return false;
        for (const auto& [user, n] : updates)
            if (n < 3)
                return false;
        return true;
    }
};
LessonSeen lesson_seen(const std::string& report) {
    LessonSeen seen;
    seen.seven_users = report.find("user_count=7") != std::string::npos;
    seen.faces = report.find("chat_faces=") != std::string::npos;
    std::map<std::string, int> last;
    std::regex picture("video_picture=(\\d+) (\\d+)");
    for (std::sregex_iterator it(report.begin(), report.end(), picture), end; it != end; ++it) {
        const int n = std::stoi((*it)[2]);
        if (n > last[(*it)[1]])
            ++seen.updates[(*it)[1]];
        last[(*it)[1]] = n;
    }
    return seen;
}

std::string read_report(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

} // namespace

// The client runs until the report shows the lesson in full swing (on a loaded machine that takes longer than
// on a quiet one), then the test has it take its screenshot and close; its own time limit is only the latest.
TEST(Demo, MakeRunHeadlessShowsALivingLessonAndLeavesNothingBehind) {
    TempDir tmp;
    const std::string shot = tmp.file("shot.png"), report = tmp.file("report.txt");
    const std::string exit_file = tmp.file("exit-now");
    const std::string script = std::string(QUORIN_SOURCE_DIR) + "/scripts/run-client";
    const pid_t run = spawn_process(
        "/bin/bash", {script, QUORIN_INSTALL_DIR, "userid=1001&roomid=1&subject=示范课&apptype=2"},
        tmp.path().string(),
        {"DISPLAY=", "WAYLAND_DISPLAY=", "TMPDIR=" + tmp.path().string(), "QUORIN_SCREENSHOT=" + shot,
         "QUORIN_REPORT=" + report, "QUORIN_EXIT_AFTER_MS=90000", "QUORIN_EXIT_FILE=" + exit_file,
         "QUORIN_RUN_LOGS=" + tmp.file("logs")});
    ASSERT_GT(run, 0);
    // The screenshot renders the window as it is then (a grab paints it anew), so once the report tells of
    // the lesson in full swing, the picture shows it.
    eventually([&] { return lesson_seen(read_report(report)).in_full_swing(); }, 90000, 100);
    write_file(exit_file, "");
    EXPECT_EQ(wait_process(run, 60000).value_or(-1), 0);

    const std::string r = read_report(report);
    const LessonSeen seen = lesson_seen(r);
    EXPECT_TRUE(seen.seven_users) << r;
    EXPECT_TRUE(seen.faces) << r;
    // Two cameras watched, and each picture moved on (its frame count grew).
    EXPECT_EQ(seen.updates.size(), 2u) << r;
    for (const auto& [user, n] : seen.updates)
        EXPECT_GE(n, 3) << "the picture of " << user << " changes";

    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull()) << "no screenshot";
    // The window's layout at 1028 x 600: the second and third video panels show the watched cameras and look
    // nothing like the fourth, which nobody fills; the user tiles and the message log are not empty.
    const QRect panel2(262, 78, 250, 160), panel3(518, 78, 250, 160), panel4(774, 78, 250, 160);
    const double d2 = difference(image, panel2, panel4), d3 = difference(image, panel3, panel4);
    const double tiles = ink(image, {22, 276, 370, 60}), chat = ink(image, {420, 276, 580, 310});
    std::printf("difference from an empty panel %.1f and %.1f; ink in the tiles %.3f, in the chat %.3f\n", d2,
                d3, tiles, chat);
    EXPECT_GT(d2, 8) << "a remote picture (an empty panel differs from another by nothing)";
    EXPECT_GT(d3, 8) << "a second remote picture";
    EXPECT_GT(tiles, 0.2) << "user tiles with pictures";
    EXPECT_GT(chat, 0.02) << "chat lines with faces";

    // The demo's logs are kept: the room server's, roombot's, the client's output and its daily log.
    for (const char* name : {"room-server.log", "roombot.log", "client.log", "user.txt"})
        EXPECT_TRUE(std::filesystem::exists(tmp.file("logs") + "/" + name)) << name;
    bool daily = false;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(tmp.file("logs") + "/log", ec))
        daily = daily || e.path().extension() == ".log";
    EXPECT_TRUE(daily) << "the client's daily log";

    const auto left = processes_touching(tmp.path().string());
    EXPECT_TRUE(left.empty()) << left.size() << " left, first: " << (left.empty() ? "" : left.front());
}
