// Chat at a receiver on a slow link, through a real room server: the delay of chat lines (p50, p99) while
// cameras flood the receiver with video, beside the same receiver without video.
#include <cstdio>

#include "room_server_process.h"
#include "slow_receiver.h"

namespace {

SlowReceiverRun measure(SlowReceiverSetup setup) {
    RoomServerProcess server;
    wait_until_listening(server.port());
    return run_slow_receiver(server.port(), setup);
}

void print(const char* what, const SlowReceiverRun& r, int lines) {
    std::printf("  %-34s chat p50 %7.1f ms  p99 %7.1f ms  max %7.1f ms  (%d/%d lines, %d frames)\n", what,
                r.p50_ms, r.p99_ms, r.max_ms, r.lines_received, lines, r.video_frames);
}

void compare(const char* title, SlowReceiverSetup flood) {
    SlowReceiverSetup quiet = flood;
    quiet.cameras = 0;
    const SlowReceiverRun with_video = measure(flood);
    const SlowReceiverRun without = measure(quiet);
    std::printf("%s\n", title);
    print("under the video flood:", with_video, flood.lines);
    print("the same receiver without video:", without, quiet.lines);
    if (without.p99_ms > 0)
        std::printf("  ratio p99 flood / without video: %.1f (the goal: p99 under the flood below %s)\n",
                    with_video.p99_ms / without.p99_ms, flood.frames_per_second == 50 ? "500 ms" : "100 ms");
}

} // namespace

int main() {
    std::printf("== slow_receiver_bench\n");
    SlowReceiverSetup four;
    four.cameras = 4;
    four.frame_bytes = 10 * 1024;
    four.frames_per_second = 25;
    four.read_bytes_per_second = 500 * 1000;
    four.receive_buffer = 8 * 1024;
    four.lines = 50;
    four.line_interval_ms = 200;
    compare("receiver reading 500 KB/s through an 8 KB receive buffer, 4 cameras of 250 KB/s each:", four);

    SlowReceiverSetup one;
    one.cameras = 1;
    one.frame_bytes = 6 * 1024;
    one.frames_per_second = 50;
    one.read_bytes_per_second = 80 * 1000;
    one.receive_buffer = 8 * 1024;
    one.lines = 25;
    one.line_interval_ms = 400;
    compare("receiver reading 80 KB/s through an 8 KB receive buffer, 1 camera at 50 frames/s:", one);
    return 0;
}
