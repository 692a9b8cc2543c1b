// A camera seen by a watcher through the room: the built quorin with the test-pattern camera sends its video
// through its velmor and the room server once somebody watches; the watcher here decodes the packets in a
// real video window and paints pictures whose content changes; after it stops watching, nothing more is
// drawn.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <signal.h>

#include "eventually.h"
#include "installation.h"
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

// Feeds every video packet that arrives within `ms` to the registry, painting in between.
int pump(RoomPeer& peer, CVideo& video, int ms) {
    int frames = 0;
    for (const Packet& p : peer.drain(ms)) {
        if (p.type != pkt::kVideoFrame)
            continue;
        video.OnRecvVideo(p.payload.data(), p.payload.size());
        ++frames;
    }
    QApplication::processEvents();
    return frames;
}

uint32_t painted_stamp(CVideoItem* window) {
    const QImage shot = window->grab().toImage().scaled(320, 240).convertToFormat(QImage::Format_RGB32);
    return capture::read_frame_stamp(shot.constBits(), 320, 240, int(shot.bytesPerLine()));
}

} // namespace

TEST(VideoEndToEnd, TheWatcherPaintsTheCameraUntilItStopsWatching) {
    RoomServerProcess server("velmor", utf8_to_gbk("user 12 小明\nuser 200 观众\nhost 7 100\n"));
    RoomPeer watcher;
    ASSERT_TRUE(watcher.connect(server.port()));
    ASSERT_EQ(login_peer(watcher, 200, 7), 0);

    Installation inst(
        "[media]\ntest_camera=1\n[room]\nserver=127.0.0.1:" + std::to_string(server.port()) + "\n", true);
    pid_t client = inst.start("client", "userid=12&roomid=7", 60000);
    ASSERT_GT(client, 0);
    ClientReaper reaper{client, inst.folder()};
    ASSERT_TRUE(inst.wait_for_report("client", "notice=本地摄像头已开启\n", 15000)) << inst.report("client");

    // The camera's announcement names the format the window opens its decoder with.
    std::optional<Packet> announced;
    while ((announced = watcher.wait_for(pkt::kCameraState, 5000)))
        if (proto::CameraState::decode(announced->payload.data(), announced->payload.size())->user_id == 12)
            break;
    ASSERT_TRUE(announced);
    proto::UserBlock block;
    block.user_id = 12;
    block.nickname = utf8_to_gbk("小明");
    block.stream = proto::CameraState::decode(announced->payload.data(), announced->payload.size())->stream;
    EXPECT_EQ(block.stream.fourcc, kFourccXvid);

    NoLink link;
    CVideo video(&link, QUORIN_INSTALL_DIR, nullptr);
    video.resize(768, 192);
    video.show();
    ASSERT_TRUE(video.AssignWindow(12, 7, block));
    CVideoItem* window = video.WindowOf(12, 7);
    watcher.send(pkt::kWatchVideo, proto::WatchVideo{12, 1}.encode());
    eventually(
        [&] {
            pump(watcher, video, 100);
            return window->frames_decoded() >= 10;
        },
        10000, 0);
    ASSERT_GE(window->frames_decoded(), 10u) << "frames from the first one on (a key frame)";
    const uint32_t first = painted_stamp(window);
    EXPECT_TRUE(eventually(
        [&] {
            pump(watcher, video, 100);
            return painted_stamp(window) > first;
        },
        10000, 0))
        << "the painted picture is the camera's, and it moves on";

    // Stop watching: the window is released, and what still arrives is not drawn.
    watcher.send(pkt::kWatchVideo, proto::WatchVideo{12, 0}.encode());
    video.ReleaseWindow(12, 7);
    const uint64_t decoded = window->frames_decoded();
    pump(watcher, video, 500);
    EXPECT_EQ(window->frames_decoded(), decoded);
    EXPECT_EQ(window->title(), QString::fromUtf8("视频未开启"));
    EXPECT_EQ(pump(watcher, video, 500), 0) << "the room stopped sending the video";

    kill(client, SIGTERM);
    EXPECT_EQ(wait_process(client, 10000).value_or(-1), 0);
}
