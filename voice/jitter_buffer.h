// The packets of one speaker between the network and the playback, which takes one 20 ms frame at a time.
// It starts playing once `target` frames wait (40 ms at first), hands out packets in sequence order, reports
// a missing one as lost (with the next packet, whose FEC data can rebuild it), and drops late and duplicate
// packets. A late packet makes the target one frame longer (packets that come late between two pulls, one
// frame for them all; none when the target already covers how late it was); a quiet network makes it shorter
// again, so the delay follows the jitter. Never more than kMaxFrames (200 ms) wait; when the speaker falls
// silent for that long the buffer stops and starts again with the next packet. A sequence far from the
// current one, or one older than the newest after the buffer stopped (a restarted sender), starts the buffer
// afresh. The buffer bounds its own delay: once playing,
// the delay stays wherever it was set (a gap is played as a lost frame), so a backlog that formed once
// (playback that started late, a listener or a sender that stood still for a moment and then came with a
// bunch of packets) would last the whole call. Whenever, over kSettlePulls, more than target + 1 frames
// waited at every pull, the excess is a standing backlog and is skipped: at the next gap in the sequence (a
// pause of DTX or a lost packet, where skipping cuts no sound), or at once when no gap comes within
// kPatiencePulls. What a network that hands packets over in groups needs between two groups is not a backlog:
// the delay is never cut below the largest group of the last window.
#pragma once

#include <array>
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
    // Pulls over which the least delay is taken as standing (0.5 s), and pulls a standing backlog waits for
    // a gap before it is cut out of continuous speech (0.5 s).
    static constexpr int kSettlePulls = 25;
    static constexpr int kPatiencePulls = 25;

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
    // While playing, the delay the buffer adds, in frames: from the next one to play to the one the speaker
    // sends now (the newest that came, and a frame for every pull since, through the speaker's pauses);
    // 0 when not playing.
    int delay_frames() const;
    struct Stats {
        uint64_t late = 0, duplicate = 0, lost = 0, overflow = 0;
        // Packets handed out, and frames that were missing between two of them (concealed inside speech;
        // "lost" also counts the frames after a speaker's last packet, before the buffer stops).
        uint64_t played = 0, concealed = 0;
        // Frames skipped to cut a standing backlog (see above); "concealed" does not count them.
        uint64_t skipped = 0;
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
    bool late_since_pull_ = false; // the target grew for a late packet since the last pull
    int waited_ = 0;               // pulls the first waiting packet has waited before playing started
    int calm_ = 0;
    uint64_t missing_since_played_ = 0;
    int64_t since_newest_ = 0; // pulls while playing since the newest packet came
    int64_t delay() const;
    // The least delay() in the current window of pulls, the pulls in it, the backlog found at its end
    // (frames still to skip) and the pulls that backlog has waited for a gap.
    int64_t least_delay_ = 0;
    int window_pulls_ = 0;
    // Packets that came between two pulls, how often each number came in the current window, and the
    // largest number that came more than once in the last window: a network that hands packets over in
    // groups needs a group's worth to wait between two groups. Once is not a pattern: a listener or a
    // speaker that stood still for a moment also makes one large group.
    int arrived_since_pull_ = 0;
    std::array<uint8_t, kMaxFrames + 1> window_groups_{};
    int64_t group_ = 0;
    int64_t floor() const;
    int64_t backlog_ = 0;
    int backlog_waited_ = 0;
    void measure_backlog();
    void cut_backlog();
    void stop_playing();
    Stats stats_;
};

} // namespace voice
