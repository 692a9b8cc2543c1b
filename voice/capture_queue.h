// What a capture stream has received and its reader has not taken yet: whole 20 ms frames and a part of the
// next one. The reader normally takes each frame as soon as it is complete, so one or two wait at most. A
// reader that stood still for a while (a busy machine, a stopped process, a slow first start) finds many
// waiting; reading them all would send old speech in a bunch, which the listener can only play late or
// throw away. So once more than kMaxWaitingFrames wait, the oldest are dropped until kKeptFrames are left,
// and the reader is told how many frames it skipped (its sequence numbers go on by that many, so that the
// listener sees a gap, not late speech). Used by one thread; no allocation after construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace voice {

class CaptureQueue {
public:
    static constexpr size_t kMaxWaitingFrames = 3;
    static constexpr size_t kKeptFrames = 2;

    CaptureQueue();

    // Appends recorded bytes (16-bit samples); `data` null appends that many bytes of silence (a hole in the
    // recording). At most a second is held: what comes beyond that is dropped.
    void append(const uint8_t* data, size_t bytes);
    // Drops the oldest whole frames while more than kMaxWaitingFrames wait (call after taking in all that
    // arrived).
    void catch_up();
    // Moves the oldest whole frame to `frame`; false when no whole frame waits.
    bool take_frame(int16_t* frame);

    size_t waiting_frames() const;
    // Frames dropped by catch_up so far, and those the reader has not been told of yet (taken, set to 0).
    uint64_t dropped_frames() const { return dropped_; }
    uint64_t take_skipped() {
        const uint64_t n = not_told_;
        not_told_ = 0;
        return n;
    }

private:
    void drop_front(size_t bytes);
    std::vector<uint8_t> bytes_;
    uint64_t dropped_ = 0;
    uint64_t not_told_ = 0;
};

} // namespace voice
