// Jitter buffer (see jitter_buffer.h).
#include "voice/jitter_buffer.h"

#include <algorithm>

namespace voice {

JitterBuffer::JitterBuffer(int start_target_frames)
    : target_(std::clamp(start_target_frames, 1, kMaxFrames)) {}

int64_t JitterBuffer::unwrap(uint32_t sequence) const {
    if (!have_reference_)
        return sequence;
    return reference_ + distance(sequence, uint32_t(reference_));
}

void JitterBuffer::push(uint32_t sequence, std::vector<uint8_t> packet) {
    int64_t s = unwrap(sequence);
    if (have_reference_ && std::abs(s - reference_) > kRestartDistance) {
        // Far from everything so far: the speaker started a new stream (its microphone was switched off and
        // on). What waits of the old one is dropped and the new one is buffered from the start.
        packets_.clear();
        playing_ = false;
        missing_since_played_ = 0;
        have_reference_ = false;
        s = sequence;
    }
    if (!have_reference_) {
        have_reference_ = true;
        reference_ = s;
    }
    if (playing_ && s < next_) {
        // Too late to be played: the buffer is shorter than the network's jitter.
        ++stats_.late;
        target_ = std::min(target_ + 1, kMaxFrames);
        calm_ = 0;
        return;
    }
    if (packets_.count(s)) {
        ++stats_.duplicate;
        return;
    }
    packets_.emplace(s, std::move(packet));
    reference_ = std::max(reference_, s);
    // Bounded: what lies more than kMaxFrames behind the newest packet is dropped, and playing skips ahead.
    const int64_t oldest_kept = packets_.rbegin()->first - (kMaxFrames - 1);
    while (!packets_.empty() && packets_.begin()->first < oldest_kept) {
        packets_.erase(packets_.begin());
        ++stats_.overflow;
    }
    if (playing_ && next_ < oldest_kept)
        next_ = oldest_kept;
}

JitterBuffer::Pull JitterBuffer::pull() {
    Pull out;
    if (!playing_) {
        // Starts once `target` frames are here, or once the first has waited that long (the end of a talk
        // spurt may be a single packet).
        if (packets_.empty()) {
            waited_ = 0;
            return out;
        }
        if (int(packets_.rbegin()->first - packets_.begin()->first + 1) < target_ && ++waited_ < target_)
            return out;
        waited_ = 0;
        playing_ = true;
        next_ = packets_.begin()->first;
        misses_ = 0;
    }
    // Too much waits for a while (the jitter went down): one frame is skipped to shorten the delay.
    if (int(packets_.size()) > target_ + 1) {
        if (++crowded_ >= 50) {
            crowded_ = 0;
            packets_.erase(packets_.begin());
            if (!packets_.empty())
                next_ = std::max(next_, packets_.begin()->first);
        }
    } else {
        crowded_ = 0;
    }
    if (++calm_ >= kCalmPulls) {
        calm_ = 0;
        target_ = std::max(target_ - 1, 1);
    }
    auto it = packets_.find(next_);
    if (it != packets_.end()) {
        out.kind = Pull::Packet;
        out.packet = std::move(it->second);
        packets_.erase(it);
        ++next_;
        misses_ = 0;
        ++stats_.played;
        stats_.concealed += missing_since_played_;
        missing_since_played_ = 0;
        return out;
    }
    if (packets_.empty() && ++misses_ > kMaxFrames) {
        // The speaker stopped (or sends nothing in silence): play nothing until the next packet.
        playing_ = false;
        missing_since_played_ = 0;
        return out;
    }
    out.kind = Pull::Lost;
    ++stats_.lost;
    ++missing_since_played_;
    auto following = packets_.find(next_ + 1);
    if (following != packets_.end())
        out.next = following->second;
    ++next_;
    return out;
}

} // namespace voice
