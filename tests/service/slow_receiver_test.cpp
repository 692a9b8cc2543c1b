// A receiver on a slow link, through a real room server: chat overtakes however much video it is sent, and no
// chat line is lost.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "room_peer.h"
#include "room_server_process.h"
#include "slow_receiver.h"
#include "wire/framing.h"
#include "wire/protocol.h"

namespace {

void print(const SlowReceiverRun& r, int lines) {
    std::printf(
        "slow receiver at %d bytes/s, %d camera(s): chat p50 %.1f ms, p99 %.1f ms, max %.1f ms; video "
        "ahead of a line p50 %.0f, p99 %.0f, max %.0f bytes; %d of %d lines; %d video frames (%.0f KB) "
        "read\n",
        r.read_bytes_per_second, r.cameras, r.p50_ms, r.p99_ms, r.max_ms, r.ahead_p50_bytes,
        r.ahead_p99_bytes, r.ahead_max_bytes, r.lines_received, lines, r.video_frames,
        r.video_bytes / 1024.0);
}

// Every line arrives, in order, with video still flowing, and overtakes the video that waits: what the
// receiver reads ahead of a line after it was sent stays within what it reads at its rate in the given
// delays (p99 and the worst line), in one of two runs (one outlier of 30 lines is the p99 here). The delays
// themselves are printed: a loaded machine reads late and lengthens them, without any video overtaking a
// line.
void expect_prompt(uint16_t port, const SlowReceiverSetup& setup, double p99_limit_ms, double max_limit_ms) {
    const double p99_limit = p99_limit_ms / 1000.0 * setup.read_bytes_per_second;
    const double max_limit = max_limit_ms / 1000.0 * setup.read_bytes_per_second;
    SlowReceiverRun r;
    for (int attempt = 0; attempt < 2; ++attempt) {
        SlowReceiverSetup fresh = setup; // users of their own: the last run's may still be leaving
        fresh.first_user += uint32_t(100 * attempt);
        r = run_slow_receiver(port, fresh);
        print(r, setup.lines);
        if (r.ahead_p99_bytes < p99_limit && r.ahead_max_bytes < max_limit)
            break;
    }
    const int lines = setup.lines;
    EXPECT_EQ(r.lines_received, lines) << "no chat line is lost";
    EXPECT_EQ(r.lines_out_of_order, 0);
    EXPECT_LT(r.ahead_p99_bytes, p99_limit);
    EXPECT_LT(r.ahead_max_bytes, max_limit);
    EXPECT_GT(r.video_frames, 0) << "video still flows";
}

} // namespace

// Four cameras watched by a receiver that takes 500 KB a second: chat overtakes the video that waits.
TEST(RoomServerSlowReceiver, ChatOvertakesFourCamerasAtHalfAMegabyteASecond) {
    RoomServerProcess server;
    SlowReceiverSetup setup;
    setup.cameras = 4;
    setup.frame_bytes = 10 * 1024;
    setup.frames_per_second = 25; // 1 MB/s of video towards a link of 0.5 MB/s
    setup.read_bytes_per_second = 500 * 1000;
    // A small receive buffer, as on a slow link: with the system's (about 80 KB held on the loopback) the
    // receiver's own backlog alone would be 160 ms.
    setup.receive_buffer = 8 * 1024;
    setup.lines = 30;
    setup.line_interval_ms = 200;
    expect_prompt(server.port(), setup, 100.0, 250.0);
}

// One camera at 50 frames a second to a receiver that takes 80 KB a second through an 8 KB receive buffer:
// every chat line within half a second.
TEST(RoomServerSlowReceiver, EveryLineWithinHalfASecondBehindAFastCamera) {
    RoomServerProcess server;
    SlowReceiverSetup setup;
    setup.cameras = 1;
    setup.frame_bytes = 6 * 1024;
    setup.frames_per_second = 50; // 300 KB/s towards a link of 80 KB/s
    setup.read_bytes_per_second = 80 * 1000;
    setup.receive_buffer = 8 * 1024;
    setup.lines = 12;
    setup.line_interval_ms = 400;
    expect_prompt(server.port(), setup, 500.0, 500.0);
}
