// Watchers who come late to a camera, through a real room server: each one is sent a key frame soon and
// decodes a picture within a second, not at the sender's next regular key frame ten seconds on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "bots/lesson_run.h"
#include "bots/scenario.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "video/video_codec.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

// What a watcher saw from the moment it started watching user 501 to its first key frame decoded.
struct FirstPicture {
    double ms = -1;   // -1: none within 5 s
    int frames = 0;   // frames received until then
    bool key = false; // a key frame came and was decoded
};

FirstPicture watch_until_picture(RoomPeer& peer) {
    FirstPicture r;
    VideoDecoder decoder;
    if (!decoder.Open(kFourccXvid, 320, 240))
        return r;
    peer.drain(300); // frames of an earlier watch are not this one's
    const auto start = Clock::now();
    peer.send(pkt::kWatchVideo, proto::WatchVideo{501, 1}.encode());
    while (Clock::now() - start < std::chrono::seconds(5)) {
        auto f = peer.wait_for(pkt::kVideoFrame, 1000);
        if (!f)
            continue;
        auto frame = proto::VideoFrame::decode(f->payload.data(), f->payload.size());
        if (!frame || frame->user_id != 501)
            continue;
        ++r.frames;
        // Only a key frame gives a whole picture (the decoder makes something of any frame it is given).
        if (decoder.Decode(frame->frame.data(), frame->frame.size(), frame->key_frame & 1) &&
            (frame->key_frame & 1)) {
            r.key = true;
            r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            return r;
        }
    }
    return r;
}

} // namespace

TEST(LateWatcher, EveryNewWatcherDecodesAPictureWithinASecond) {
    RoomServerProcess server("velmor", "host 7 501\n");
    ASSERT_TRUE(wait_until_listening(server.port()));
    std::string error;
    auto scenario = bots::parse_scenario("room 7 测试课\n"
                                         "user 501 林老师 host camera\n"
                                         "at 0.1 501 join\n"
                                         "at 0.2 501 camera on\n"
                                         "repeat 600\n",
                                         &error);
    ASSERT_TRUE(scenario.has_value()) << error;
    std::atomic<bool> stop{false};
    bots::LessonConfig config;
    config.port = server.port();
    config.stop = &stop;
    std::thread lesson([&] { EXPECT_TRUE(bots::run_lesson(*scenario, config, &error)) << error; });
    struct StopAtEnd {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~StopAtEnd() {
            stop = true;
            thread.join();
        }
    } stop_at_end{stop, lesson};

    RoomPeer first, second, third;
    for (auto* p : {&first, &second, &third})
        ASSERT_TRUE(p->connect(server.port()));
    ASSERT_EQ(login_peer(first, 1001, 7), 0);
    ASSERT_EQ(login_peer(second, 1002, 7), 0);
    ASSERT_EQ(login_peer(third, 1003, 7), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the teacher is in
    const FirstPicture first_pic = watch_until_picture(first);
    ASSERT_GE(first_pic.ms, 0) << "the first watcher gets pictures";
    // Well past the first watcher's key frame; the next regular one is ten seconds away.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const FirstPicture second_pic = watch_until_picture(second);
    // A third right after the second: its request waits for the limit of one a second.
    const FirstPicture third_pic = watch_until_picture(third);
    // The second one closes the window and opens it again.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    second.send(pkt::kWatchVideo, proto::WatchVideo{501, 0}.encode());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const FirstPicture again_pic = watch_until_picture(second);
    for (const auto& [what, p] : {std::pair{"first", first_pic}, std::pair{"second", second_pic},
                                  std::pair{"third", third_pic}, std::pair{"reopened", again_pic}})
        std::printf("%s watcher: first picture after %.0f ms, frame %d, %s\n", what, p.ms, p.frames,
                    p.key ? "a key frame" : "not a key frame");
    for (const FirstPicture* p : {&second_pic, &third_pic, &again_pic})
        EXPECT_TRUE(p->key) << "a picture starts at a key frame";
    EXPECT_GE(second_pic.ms, 0);
    EXPECT_LT(second_pic.ms, 1000);
    EXPECT_GE(third_pic.ms, 0);
    EXPECT_LT(third_pic.ms, 1500) << "after the request limit, at the sender's next frame";
    EXPECT_GE(again_pic.ms, 0);
    EXPECT_LT(again_pic.ms, 1000);
}
