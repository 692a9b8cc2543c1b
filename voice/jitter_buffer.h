// The packets of one speaker between the network and the playback, which takes one 20 ms frame at a time.
// It starts playing once `target` frames wait (40 ms at first), hands out packets in sequence order, reports
// a missing one as lost (with the next packet, whose FEC data can rebuild it), and drops late and duplicate
// packets. A late packet makes the target one frame longer; a quiet network makes it shorter again, so the
// delay follows the jitter. Never more than kMaxFrames (200 ms) wait; when the speaker falls silent for that
// long the buffer stops and starts again with the next packet. A sequence far from the current one (a
// restarted sender) starts the buffer afresh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

namespace voice {

class JitterBuffer {
public:
    static constexpr int kMaxFrames = 10;
    // Pulls without a late packet after which the target may shrink by a frame (5 s).
    static constexpr int kCalmPulls = 250;
    // A packet this many frames (2 s) away from the newest starts a new stream.
    static constexpr int kRestartDistance = 100;

    explicit JitterBuffer(int start_target_frames = 2);

    void push(uint32_t sequence, std::vector<uint8_t> packet);

    struct Pull {
        enum Kind { Nothing, Packet, Lost } kind = Nothing;
        std::vector<uint8_t> packet; // Packet: the packet to decode
        std::vector<uint8_t> next;   // Lost: the following packet when it is here (else empty)
    };
    Pull pull();

    bool playing() const { return playing_; }
    int target() const { return target_; }
    size_t waiting() const { return packets_.size(); }
    struct Stats {
        uint64_t late = 0, duplicate = 0, lost = 0, overflow = 0;
        // Packets handed out, and frames that were missing between two of them (concealed inside speech;
        // "lost" also counts the frames after a speaker's last packet, before the buffer stops).
        uint64_t played = 0, concealed = 0;
    };
    const Stats& stats() const { return stats_; }

private:
    // Signed distance from the next frame to play, across the wrap of the 32-bit sequence.
    static int32_t distance(uint32_t a, uint32_t b) { return int32_t(a - b); }

    std::map<int64_t, std::vector<uint8_t>> packets_; // by unwrapped sequence
    int64_t unwrap(uint32_t sequence) const;
    bool playing_ = false;
    bool have_reference_ = false;
    int64_t reference_ = 0; // an unwrapped sequence near the current ones
    int64_t next_ = 0;
    int target_;
    int misses_ = 0;
    int waited_ = 0; // pulls the first waiting packet has waited before playing started
    int calm_ = 0;
    uint64_t missing_since_played_ = 0;
    int crowded_ = 0;
    Stats stats_;
};

} // namespace voice
