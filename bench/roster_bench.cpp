// A room of 500 users joining in one burst: the time until the user list has every record and its shown page
// is painted, then the longest stall of the UI thread while the 500 pictures download from a loopback web
// host (a 1 ms timer measures the gaps). The peer for the burst is a plain QListWidget filled with the same
// names.
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>

#include <cstdio>
#include <filesystem>

#include "platform/text.h"
#include "roster/CLeftDlg.h"
#include "web_host.h"

namespace fs = std::filesystem;

namespace {

constexpr int kUsers = 500;

struct Link : call_back {
    int request(int, void*, int) override { return 1; }
    bool Send(uint16_t, const proto::Bytes&) override { return true; }
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const fs::path install = argc > 1 ? fs::path(argv[1]) : fs::path("build/out");
    const fs::path folder = fs::temp_directory_path() / ("quorin-roster-bench-" + std::to_string(getpid()));
    fs::create_directories(folder / "timage");
    fs::copy(install / "ui", folder / "ui", fs::copy_options::recursive);
    TestWebHost web;

    Link link;
    Roster roster;
    CLeftDlg list(&link, roster, nullptr, folder.string(), web.base(), nullptr);
    list.resize(408, 80);
    list.show();
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    proto::LoginResult self;
    self.nickname = utf8_to_gbk("我");
    roster.AddSelf(self, 1);
    for (int i = 2; i <= kUsers; ++i) {
        proto::UserBlock b;
        b.user_id = uint32_t(i);
        b.nickname = utf8_to_gbk("学生") + std::to_string(i);
        roster.Add(b);
    }
    const double records_ms = double(t.nsecsElapsed()) / 1e6;
    list.grab(); // the shown page painted
    const double painted_ms = double(t.nsecsElapsed()) / 1e6;

    QListWidget peer;
    peer.show();
    QElapsedTimer tp;
    tp.start();
    for (int i = 1; i <= kUsers; ++i)
        peer.addItem(QString::fromUtf8("学生%1").arg(i));
    peer.grab();
    const double peer_ms = double(tp.nsecsElapsed()) / 1e6;

    // The downloads: the UI thread's longest gap between 1 ms ticks while they run.
    qint64 last = 0, longest = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last)
            longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(1);
    auto all_ready = [&] {
        for (const auto& u : roster.users())
            if (!u->picture_ready)
                return false;
        return true;
    };
    while (!all_ready() && clock.elapsed() < 120000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double download_s = double(clock.elapsed()) / 1000;
    tick.stop();
    list.StopDownloads();
    int ready = 0;
    for (const auto& u : roster.users())
        ready += u->picture_ready != 0;
    fs::remove_all(folder);

    std::printf("== roster_bench: %d users joining in one burst\n", kUsers);
    std::printf("all records in the list: %.1f ms; shown page painted: %.1f ms\n", records_ms, painted_ms);
    std::printf("plain QListWidget with the same names, painted: %.1f ms; ratio %.2f\n", peer_ms,
                painted_ms / peer_ms);
    std::printf("pictures: %d of %d stored in %.1f s from the loopback web host\n", ready, kUsers,
                download_s);
    std::printf("longest UI thread stall meanwhile: %.1f ms (goal: at most 16 ms)\n", double(longest) / 1e6);
    return 0;
}
