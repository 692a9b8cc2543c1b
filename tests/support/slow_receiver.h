// A receiver on a slow link in a room of a room server: cameras send video that it watches, another user
// sends chat lines, and the receiver reads at a fixed rate (optionally through a small receive buffer). Used
// by the slow-receiver tests and by its benchmark line.
#pragma once

#include <cstdint>

struct SlowReceiverSetup {
    int cameras = 4;             // users whose video the receiver watches (0: chat alone)
    int frame_bytes = 24 * 1024; // each camera's frame
    int frames_per_second = 25;  // each camera's rate
    int read_bytes_per_second = 500 * 1000;
    int receive_buffer = 0; // the receiver's SO_RCVBUF; 0 the system's
    int lines = 30;         // chat lines, one every line_interval_ms
    int line_interval_ms = 200;
    int settle_ms = 1000;      // video alone before the first line, to fill every buffer on the way
    uint32_t first_user = 500; // the receiver; the talker and the cameras follow
};

struct SlowReceiverRun {
    int cameras = 0;
    int read_bytes_per_second = 0;
    int lines_received = 0;
    int lines_out_of_order = 0;
    double p50_ms = 0, p99_ms = 0, max_ms = 0; // chat delay, send to read
    // What the receiver read ahead of each chat line after it was sent (video that was in front of it on the
    // way), in bytes: the delay without the machine's speed in it. At the receiver's rate it is the delay a
    // line waits behind video; only a slower machine changes the delay.
    double ahead_p50_bytes = 0, ahead_p99_bytes = 0, ahead_max_bytes = 0;
    int video_frames = 0;
    uint64_t video_bytes = 0;
};

// Runs the room on the room server at 127.0.0.1:port (users from first_user on, in room 77).
SlowReceiverRun run_slow_receiver(uint16_t port, const SlowReceiverSetup& setup);
