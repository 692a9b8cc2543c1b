// When a capture thread looks for its next frame. A sound server hands recorded sound over in pieces of its
// own size, often several for one 20 ms frame; waking for every piece costs a thread wake-up each. The reader
// sleeps until its next frame should be complete and takes everything that arrived in one go, so a frame
// usually costs one wake-up and waits at most kMarginUs for it. A wake that comes before the frame is
// complete waits for the pieces. A frame that completed a little after its wake sets the schedule anew from
// its completion; one that came much later is taken for a piece held up once (a busy machine), and the
// schedule stays, unless the next frame is late as well. While frames are complete at their wakes, each wake
// comes kCreepUs earlier than the last, so that a schedule that has become late (the source's clock runs
// faster, or the reader was woken late when it set the schedule) comes back. Used by one thread.
#pragma once

#include <cstdint>

namespace voice {

class CapturePacer {
public:
    static constexpr uint64_t kFrameUs = 20'000;
    // How long after the expected completion a wake comes: room for pieces that come a little late.
    static constexpr uint64_t kMarginUs = 1'000;
    // How much earlier each next wake comes while frames are complete at their wakes.
    static constexpr uint64_t kCreepUs = 100;

    // Reads one frame from `source`, which offers:
    //   bool take_frame(int16_t*)   a whole frame from what was taken in; false when there is none
    //   bool take_arrived()         takes in what arrived, without waiting; false when the source failed
    //   bool wait_for_delivery()    waits (up to a tenth of a second) for the next delivery and takes it in;
    //                               false when the source failed
    //   uint64_t now_us()           the monotonic clock
    //   void sleep_until(uint64_t)  sleeps until that time of the clock
    // False when the source failed, or delivered nothing for kGiveUpUs.
    template <typename Source> bool read(Source& source, int16_t* frame) {
        // A wake that brought more than a frame (the reader was late) leaves the next one ready.
        if (source.take_frame(frame))
            return true;
        const uint64_t due = due_us_;
        if (due != 0 && due > source.now_us()) {
            source.sleep_until(due);
            if (!source.take_arrived())
                return false;
            if (source.take_frame(frame)) {
                late_ = false;
                due_us_ = due + kFrameUs - kCreepUs;
                return true;
            }
        }
        const uint64_t start = source.now_us();
        for (;;) {
            if (source.now_us() - start > kGiveUpUs)
                return false; // nothing for seconds: the source is gone
            if (!source.wait_for_delivery())
                return false;
            if (source.take_frame(frame))
                break;
        }
        const uint64_t completed = source.now_us();
        if (due != 0 && completed > due + kMarginUs && !late_) {
            late_ = true; // held up once: the next frame is expected on the old schedule
            due_us_ = due + kFrameUs;
        } else {
            late_ = false;
            due_us_ = completed + kFrameUs + kMarginUs;
        }
        return true;
    }

    // When the next wake comes; 0 before the first frame.
    uint64_t due_us() const { return due_us_; }

    static constexpr uint64_t kGiveUpUs = 5'000'000;

private:
    uint64_t due_us_ = 0;
    bool late_ = false; // the last frame came much later than its wake and the schedule was kept
};

} // namespace voice
