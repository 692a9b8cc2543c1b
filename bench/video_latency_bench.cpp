// Capture to paint between two clients on this machine: the built quorin with the test-pattern camera sends
// through its velmor and a room server. Two receivers, one after the other: a watcher here, on the room
// server, that decodes each packet in a real video window and paints it at once (the peer: the shortest
// path), and a second quorin that watches through its own velmor and paints on its own event loop, reporting
// the age of every new picture it paints (QUORIN_PAINT_AGES). The test camera stamps its capture time into
// the picture, so the age of every painted picture is known. Prints p50 and p99 over at least 300 frames each
// (beyond the camera's own 66 ms frame interval), their ratio, and the CPU the sending client and its service
// used while being watched (share of one core).
#include <QApplication>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "installation.h"
#include "platform/process.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "video/CVideo.h"
#include "video/CVideoItem.h"
#include "video/capture.h"
#include "wire/protocol.h"

namespace {

struct NoLink : call_back {
    int request(int, void*, int) override { return 1; }
    bool Send(uint16_t, const proto::Bytes&) override { return true; }
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RoomServerProcess server(
        "velmor", utf8_to_gbk("user 12 camera\nuser 200 watcher\nuser 201 receiver\nhost 7 100\n"));
    RoomPeer watcher;
    if (!watcher.connect(server.port()) || login_peer(watcher, 200, 7) != 0) {
        std::printf("video_latency_bench: no room server\n");
        return 1;
    }
    Installation inst(
        "[media]\ntest_camera=1\n[room]\nserver=127.0.0.1:" + std::to_string(server.port()) + "\n", true);
    const pid_t client = inst.start("client", "userid=12&roomid=7", 200000);
    ClientReaper reaper{client, inst.folder()};
    std::optional<Packet> announced;
    while ((announced = watcher.wait_for(pkt::kCameraState, 15000)))
        if (proto::CameraState::decode(announced->payload.data(), announced->payload.size())->user_id == 12)
            break;
    if (!announced) {
        std::printf("video_latency_bench: the camera did not start\n");
        return 1;
    }
    proto::UserBlock block;
    block.user_id = 12;
    block.stream = proto::CameraState::decode(announced->payload.data(), announced->payload.size())->stream;
    NoLink link;
    CVideo video(&link, QUORIN_INSTALL_DIR, nullptr);
    video.resize(768, 192);
    video.show();
    video.AssignWindow(12, 7, block);
    CVideoItem* window = video.WindowOf(12, 7);
    watcher.send(pkt::kWatchVideo, proto::WatchVideo{12, 1}.encode());

    const pid_t service = [&] {
        auto s = find_own_processes_by_exe(inst.folder() + "/velmor");
        return s.empty() ? pid_t(0) : s.front();
    }();
    const double cpu_start =
        process_usage(client).cpu_seconds + (service ? process_usage(service).cpu_seconds : 0);
    const auto wall_start = std::chrono::steady_clock::now();
    std::vector<double> ages;
    while (ages.size() < 320 && std::chrono::steady_clock::now() - wall_start < std::chrono::seconds(60)) {
        auto p = watcher.next(1000);
        if (!p || p->type != pkt::kVideoFrame)
            continue;
        video.OnRecvVideo(p->payload.data(), p->payload.size());
        // Painted at once, as the window would on the next turn of the event loop.
        const QImage painted = window->picture().Latest();
        if (painted.isNull())
            continue;
        const QImage shot = window->grab().toImage();
        const uint32_t stamp = capture::read_frame_stamp(painted.constBits(), painted.width(),
                                                         painted.height(), int(painted.bytesPerLine()));
        const double age = double(int32_t(capture::stamp_clock_ms() - stamp));
        if (age >= 0 && age < 5000 && !shot.isNull())
            ages.push_back(age);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    const double cpu =
        process_usage(client).cpu_seconds + (service ? process_usage(service).cpu_seconds : 0) - cpu_start;
    watcher.send(pkt::kWatchVideo, proto::WatchVideo{12, 0}.encode());

    // The second client: its own install folder and service, relaying to the same room server; it opens the
    // camera's picture as a click would and reports what it paints.
    Installation receiver("[room]\nserver=127.0.0.1:" + std::to_string(server.port()) + "\n", true);
    const std::string ages_file = receiver.file("paint_ages.txt");
    const pid_t receiving = receiver.start("receiver", "userid=201&roomid=7", 120000,
                                           {"QUORIN_WATCH_CAMERAS=1", "QUORIN_PAINT_AGES=" + ages_file});
    ClientReaper receiver_reaper{receiving, receiver.folder()};
    std::vector<double> client_ages;
    const auto receive_start = std::chrono::steady_clock::now();
    while (client_ages.size() < 320 &&
           std::chrono::steady_clock::now() - receive_start < std::chrono::seconds(90)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        client_ages.clear();
        std::istringstream lines(read_file(ages_file));
        int age = 0;
        bool first = true;
        while (lines >> age) {
            // The first picture painted is whatever the window got as it opened (a key frame waited for).
            if (first) {
                first = false;
                continue;
            }
            if (age >= 0 && age < 5000)
                client_ages.push_back(age);
        }
    }

    double load[3] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
            load[0] = -1;
        std::fclose(f);
    }
    std::printf(
        "== video_latency_bench: test camera -> quorin/velmor -> room server -> a window (load average "
        "%.2f %.2f %.2f)\n",
        load[0], load[1], load[2]);
    // The stamp is taken when the frame is made, so this is the time beyond the camera's own frame interval.
    std::printf(
        "capture to paint, watcher's window on the room server (peer): %zu frames in %.1f s, p50 %.1f ms, "
        "p99 %.1f ms\n",
        ages.size(), seconds, percentile(ages, 0.5), percentile(ages, 0.99));
    std::printf(
        "capture to paint, a second quorin through its velmor, painted on its event loop: %zu frames, "
        "p50 %.1f ms, p99 %.1f ms (goal 10 / 25); ratio to the peer p50 %.2f, p99 %.2f\n",
        client_ages.size(), percentile(client_ages, 0.5), percentile(client_ages, 0.99),
        percentile(client_ages, 0.5) / std::max(percentile(ages, 0.5), 0.1),
        percentile(client_ages, 0.99) / std::max(percentile(ages, 0.99), 0.1));
    if (client_ages.empty())
        std::printf("  (the second client painted nothing; its errors: %s)\n",
                    receiver.errors("receiver").c_str());
    std::printf("sending client and its service: %.1f %% of one core while watched\n", cpu / seconds * 100);
    return 0;
}
