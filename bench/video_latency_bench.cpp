// Capture to paint between two clients on this machine: the built quorin with the test-pattern camera sends
// through its velmor and a room server; a watcher here decodes each packet in a real video window and paints
// it. The test camera stamps its capture time into the picture, so the age of every painted picture is known.
// Prints p50 and p99 over at least 300 frames beyond the camera's own 66 ms frame interval, and the CPU the
// sending client and its service used while being watched (share of one core).
#include <QApplication>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
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
    RoomServerProcess server("velmor", utf8_to_gbk("user 12 camera\nuser 200 watcher\nhost 7 100\n"));
    RoomPeer watcher;
    if (!watcher.connect(server.port()) || login_peer(watcher, 200, 7) != 0) {
        std::printf("video_latency_bench: no room server\n");
        return 1;
    }
    Installation inst(
        free_port(),
        "[media]\ntest_camera=1\n[room]\nserver=127.0.0.1:" + std::to_string(server.port()) + "\n", true);
    const pid_t client = inst.start("client", "userid=12&roomid=7", 120000);
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
    std::printf("== video_latency_bench: test camera -> quorin/velmor -> room server -> watcher's window\n");
    std::printf("frames painted: %zu in %.1f s\n", ages.size(), seconds);
    // The stamp is taken when the frame is made, so this is the time beyond the camera's own frame interval.
    std::printf("capture to paint: p50 %.1f ms, p99 %.1f ms (goal 10 / 25)\n", percentile(ages, 0.5),
                percentile(ages, 0.99));
    std::printf("sending client and its service: %.1f %% of one core while watched\n", cpu / seconds * 100);
    return 0;
}
