// The video panels with the test-pattern camera and real compression: the local panel's switching,
// announcements, packets, snapshots and zoom window; the registry's lending, order and routing; a remote
// window fed real packets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>

#include <filesystem>
#include <mutex>

#include "eventually.h"
#include "platform/message_ids.h"
#include "session_doubles.h"
#include "temp_dir.h"
#include "video/CMediaDlg.h"
#include "video/CVideo.h"
#include "video/CVideoItem.h"
#include "video/CZoomVideo.h"
#include "video/capture.h"
#include "wire/packet_types.h"

namespace {

// The send interface; packets come from the capture thread too.
struct Link : call_back {
    std::mutex m;
    std::vector<std::pair<uint16_t, proto::Bytes>> sent;
    std::vector<std::string> notices;
    bool camera_on = false;
    int request(int type, void* data, int) override {
        if (type == kReqNoticeLine) {
            std::lock_guard lock(m);
            notices.push_back(static_cast<const char*>(data));
        }
        return type == kReqCameraOn ? camera_on : 1;
    }
    bool Send(uint16_t type, const proto::Bytes& payload) override {
        std::lock_guard lock(m);
        sent.push_back({type, payload});
        return true;
    }
    std::vector<proto::Bytes> of(uint16_t type) {
        std::lock_guard lock(m);
        std::vector<proto::Bytes> out;
        for (auto& [t, p] : sent)
            if (t == type)
                out.push_back(p);
        return out;
    }
};

} // namespace

TEST(MediaPanel, SwitchesAnnouncesSendsAndSnaps) {
    TempDir home;
    qputenv("HOME", home.path().string().c_str());
    Link link;
    RecordingActions actions(&link);
    CMediaDlg media(&link, &actions, QUORIN_INSTALL_DIR, true, nullptr);
    media.resize(256, 192);
    media.show();
    EXPECT_TRUE(media.CameraPresent()) << "the test camera";
    EXPECT_FALSE(media.SwitchCamera(true, 7)) << "no camera at that position";
    ASSERT_TRUE(media.SwitchCamera(true, int(capture::list_cameras(true).size()) - 1));
    ASSERT_EQ(link.of(pkt::kCameraState).size(), 1u);
    auto announced = proto::CameraState::decode(link.of(pkt::kCameraState)[0].data(), 18);
    EXPECT_EQ(announced->stream, (proto::StreamDesc{fourcc('X', 'V', 'I', 'D'), 320, 240, 24}));
    EXPECT_TRUE(media.SwitchCamera(true, 0)) << "already on";
    EXPECT_EQ(link.of(pkt::kCameraState).size(), 1u) << "nothing sent again";

    ASSERT_TRUE(eventually_with_events([&] { return media.picture().published() >= 3; }));
    EXPECT_TRUE(link.of(pkt::kVideoFrame).empty()) << "nobody watches: nothing is compressed";
    media.SetVideoWanted(true);
    ASSERT_TRUE(eventually_with_events([&] { return link.of(pkt::kVideoFrame).size() >= 3; }));
    auto first =
        proto::VideoFrame::decode(link.of(pkt::kVideoFrame)[0].data(), link.of(pkt::kVideoFrame)[0].size());
    EXPECT_EQ(first->key_frame, 1u) << "a new watcher starts with a key frame";
    EXPECT_EQ(first->capture_length, 320u * 240 * 2);

    // The picture painted is the camera's: its stamp counts up.
    auto stamp = [&] {
        const QImage picture = media.picture().Latest().convertToFormat(QImage::Format_RGB32);
        return capture::read_frame_stamp(picture.constBits(), 320, 240, int(picture.bytesPerLine()));
    };
    const auto first_stamp = stamp();
    EXPECT_TRUE(eventually_with_events([&] { return stamp() > first_stamp; }));

    media.on_video_event(3, 0, 0);
    ASSERT_TRUE(eventually_with_events([&] { return !media.last_snapshot().isEmpty(); }));
    // A PNG of the picture as shown (upright, the frame's stamp readable) in the pictures folder.
    const QImage shot = QImage(media.last_snapshot()).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(320, 240));
    EXPECT_TRUE(media.last_snapshot().endsWith(".png"));
    EXPECT_GT(capture::read_frame_stamp(shot.constBits(), 320, 240, int(shot.bytesPerLine())), 0u);
    EXPECT_TRUE(
        media.last_snapshot().startsWith(QString::fromStdString((home.path() / "Pictures").string())));
    QApplication::processEvents();

    media.ToggleZoom();
    ASSERT_NE(media.zoom(), nullptr);
    platform::post_message(&media, msg::kCloseZoom, 0, 0);
    QApplication::processEvents();
    EXPECT_EQ(media.zoom(), nullptr);

    ASSERT_TRUE(media.SwitchCamera(false, 0));
    ASSERT_EQ(link.of(pkt::kCameraState).size(), 2u);
    EXPECT_EQ(proto::CameraState::decode(link.of(pkt::kCameraState)[1].data(), 18)->stream,
              proto::StreamDesc{});
    EXPECT_TRUE(media.SwitchCamera(false, 0));
    EXPECT_EQ(link.of(pkt::kCameraState).size(), 2u);
    // The capture thread has ended with the switch (the engine is closed): the count is final, and anything
    // still queued for this thread runs before it is looked at again.
    EXPECT_FALSE(media.engine().is_open());
    const size_t frames = link.of(pkt::kVideoFrame).size();
    QApplication::processEvents();
    EXPECT_EQ(link.of(pkt::kVideoFrame).size(), frames) << "nothing after the camera is off";
    media.on_video_event(3, 0, 0); // a snapshot with the camera off is ignored

    // Switched on again: nobody has asked for its video since, so nothing is compressed or sent.
    ASSERT_TRUE(media.SwitchCamera(true, int(capture::list_cameras(true).size()) - 1));
    EXPECT_FALSE(media.engine().sending());
    const uint64_t published = media.picture().published();
    ASSERT_TRUE(eventually_with_events([&] { return media.picture().published() >= published + 3; }));
    EXPECT_EQ(link.of(pkt::kVideoFrame).size(), frames) << "no video that nobody watches";

    // The window ends: the capture thread stops at once and no camera-off announcement goes out.
    media.SetVideoWanted(true);
    ASSERT_TRUE(eventually_with_events([&] { return link.of(pkt::kVideoFrame).size() > frames; }));
    media.CloseForExit();
    EXPECT_FALSE(media.engine().is_open());
    EXPECT_FALSE(media.camera_open());
    EXPECT_EQ(link.of(pkt::kCameraState).size(), 3u) << "the two of before and the one of switching on";
    const size_t at_exit = link.of(pkt::kVideoFrame).size();
    QApplication::processEvents();
    EXPECT_EQ(link.of(pkt::kVideoFrame).size(), at_exit);
}

// Where a person can reach its buttons: centred where it fits, its top strip and the buttons at the strip's
// right end on the screen where it does not (800 x 600 on a 1920 x 1080 screen at scale 2, a small netbook).
TEST(ZoomWindow, StaysReachableOnSmallScreens) {
    const QSize level3(800, 600 + 26);
    EXPECT_EQ(CZoomVideo::PlaceIn({0, 0, 1600, 1000}, level3), QPoint(400, 187));
    EXPECT_EQ(CZoomVideo::PlaceIn({100, 50, 1600, 1000}, {352, 314}), QPoint(724, 393));
    for (const QRect& area :
         {QRect(0, 0, 960, 540), QRect(0, 30, 1024, 570), QRect(0, 0, 640, 480), QRect(-640, 0, 640, 480)}) {
        const QRect placed(CZoomVideo::PlaceIn(area, level3), level3);
        EXPECT_GE(placed.top(), area.top()) << "the strip is on the screen";
        // The zoom-out, zoom-in and close buttons stand within 80 pixels of the strip's right end.
        EXPECT_LE(placed.right(), area.right());
        EXPECT_GE(placed.right() - 80, area.left());
    }
}

TEST(ZoomWindow, LevelsEscapeAndDoubleClick) {
    QWidget owner;
    CZoomVideo zoom(QUORIN_INSTALL_DIR "/ui", nullptr, &owner);
    zoom.show();
    const int strip = zoom.top_strip();
    EXPECT_EQ(zoom.size(), QSize(320, 240 + strip));
    zoom.ZoomOut();
    EXPECT_EQ(zoom.level(), 0) << "nothing below 320 x 240";
    for (int i = 0; i < 3; ++i)
        zoom.ZoomIn();
    EXPECT_EQ(zoom.size(), QSize(800, 600 + strip));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(zoom.pos(), CZoomVideo::PlaceIn(area, zoom.size()));
    zoom.ZoomIn();
    EXPECT_EQ(zoom.level(), 4) << "full screen";
    zoom.ZoomIn();
    EXPECT_EQ(zoom.level(), 4);
    QTest::keyClick(&zoom, Qt::Key_Escape);
    EXPECT_EQ(zoom.level(), 3) << "Escape leaves the full screen";
    zoom.ZoomOut();
    zoom.ZoomOut();
    EXPECT_EQ(zoom.level(), 1);
    QTest::mouseDClick(&zoom, Qt::LeftButton, {}, QPoint(50, 100));
    EXPECT_EQ(zoom.level(), 4) << "a double click goes straight to the full screen";
    QTest::mouseDClick(&zoom, Qt::LeftButton, {}, QPoint(50, 100));
    EXPECT_EQ(zoom.level(), 3);
    EXPECT_GE(zoom.minimumSize().width(), 256);
    EXPECT_GE(zoom.minimumSize().height(), 192);
}

namespace {

proto::UserBlock camera_user(uint32_t id) {
    proto::UserBlock b;
    b.user_id = id;
    b.nickname = "user" + std::to_string(id);
    b.stream = {kFourccXvid, 320, 240, 24};
    return b;
}

} // namespace

TEST(VideoRegistry, LendsInOrderAndRoutesPackets) {
    Link link;
    CVideo video(&link, QUORIN_INSTALL_DIR, nullptr);
    video.resize(768, 192);
    video.show();
    std::vector<CVideoItem*> idle = video.Order();
    ASSERT_EQ(idle.size(), 3u);
    ASSERT_TRUE(video.AssignWindow(11, 7, camera_user(11)));
    ASSERT_TRUE(video.AssignWindow(12, 7, camera_user(12)));
    ASSERT_TRUE(video.AssignWindow(13, 7, camera_user(13)));
    EXPECT_TRUE(video.AssignWindow(12, 7, camera_user(12))) << "the same key keeps its window";
    EXPECT_EQ(video.active_count(), 3);
    EXPECT_FALSE(video.AssignWindow(14, 7, camera_user(14))) << "three windows";
    CVideoItem* third = video.WindowOf(13, 7);
    EXPECT_EQ(third->title(), "user13");
    ASSERT_TRUE(video.ReleaseWindow(12, 7));
    EXPECT_FALSE(video.ReleaseWindow(12, 7));
    QApplication::processEvents();
    const auto order = video.Order();
    EXPECT_EQ(order[1], third) << "the third moves to position 1";
    EXPECT_EQ(order[1]->x(), 256);
    EXPECT_EQ(order[2]->title(), QString::fromUtf8("视频未开启"));

    // Real packets of user 13 reach its window and are decoded; a released user's are dropped.
    VideoEncoder enc;
    ASSERT_TRUE(enc.Open(320, 240));
    std::vector<uint8_t> yuyv(capture::kFrameBytes), data;
    for (uint32_t n = 0; n < 5; ++n) {
        capture::draw_test_pattern(yuyv.data(), 100 + n, 0, 0, 0);
        bool key = false;
        ASSERT_TRUE(enc.Encode(yuyv.data(), data, key));
        proto::VideoFrame f;
        f.user_id = 13;
        f.room_id = 7;
        f.key_frame = key;
        f.frame = data;
        const auto packet = f.encode();
        video.OnRecvVideo(packet.data(), packet.size());
        f.user_id = 12;
        const auto stray = f.encode();
        video.OnRecvVideo(stray.data(), stray.size());
    }
    EXPECT_EQ(third->frames_decoded(), 5u);
    const QImage shown = third->picture().Latest();
    EXPECT_EQ(capture::read_frame_stamp(shown.constBits(), 320, 240, int(shown.bytesPerLine())), 104u);

    // A size that claims more than the packet holds is dropped, never read past.
    proto::VideoFrame liar;
    liar.user_id = 13;
    liar.room_id = 7;
    liar.frame = {1, 2, 3};
    auto bytes = liar.encode();
    bytes[8] = 0xFF;
    const uint64_t dropped = third->frames_dropped();
    video.OnRecvVideo(bytes.data(), bytes.size());
    EXPECT_EQ(third->frames_dropped(), dropped + 1);

    // A camera announced in a format other than MPEG-4 Part 2 gets no decoder, and its window says so.
    proto::UserBlock h264 = camera_user(15);
    h264.stream.fourcc = fourcc('H', '2', '6', '4');
    ASSERT_TRUE(video.AssignWindow(15, 7, h264));
    CVideoItem* other = video.WindowOf(15, 7);
    EXPECT_FALSE(other->decoder_open());
    EXPECT_EQ(other->caption(), QString::fromUtf8("user15（视频格式无法解码）"));
    EXPECT_EQ(other->title(), "user15") << "a snapshot would still be named after the user";
    EXPECT_EQ(third->caption(), "user13");

    video.ReleaseAll();
    EXPECT_EQ(video.active_count(), 0);
    video.ReleaseAll(); // nothing lent: nothing happens
    video.OnRecvVideo(bytes.data(), bytes.size());
    EXPECT_EQ(third->shown_user(), 0u);
}
