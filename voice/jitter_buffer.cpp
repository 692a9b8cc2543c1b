// Jitter buffer (see jitter_buffer.h).
#include "voice/jitter_buffer.h"

#include <algorithm>
#include <utility>

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
    // The speaker fell silent and the buffer stopped; a packet older than the newest one heard begins a new
    // stream: a sender whose microphone went off and on numbers from 0 again, however short its last spurt
    // was (taken for old speech, the new spurt would be played as late and cut as a backlog).
    const bool restarted_after_silence = have_reference_ && !playing_ && packets_.empty() && s < reference_;
    if (restarted_after_silence || (have_reference_ && std::abs(s - reference_) > kRestartDistance)) {
        // Far from everything so far: the speaker started a new stream (its microphone was switched off and
        // on). What waits of the old one is dropped and the new one is buffered from the start.
        packets_.clear();
        stop_playing();
        have_reference_ = false;
        s = sequence;
    }
    if (!have_reference_) {
        have_reference_ = true;
        reference_ = s;
        since_newest_ = 0;
    }
    if (playing_ && s < next_) {
        // Too late to be played: the buffer is shorter than the network's jitter.
        ++stats_.late;
        // Packets held up together come late together: one frame longer for them all, not one each (a
        // speaker or a network that stood still for 200 ms would make the buffer as long as it goes). And
        // not longer than this packet needed: how far it came behind the frame the speaker sends now. A
        // buffer that plays with less than its target (it takes a longer target at its next start) is late
        // now and then without being too short.
        const int64_t needed = reference_ + since_newest_ - s + 1;
        if (!late_since_pull_ && needed > target_)
            target_ = std::min(target_ + 1, kMaxFrames);
        late_since_pull_ = true;
        calm_ = 0;
        return;
    }
    if (packets_.count(s)) {
        ++stats_.duplicate;
        return;
    }
    packets_.emplace(s, std::move(packet));
    ++arrived_since_pull_;
    if (s > reference_) {
        reference_ = s;
        since_newest_ = 0;
    }
    // Bounded: what lies more than kMaxFrames behind the newest packet is dropped, and playing skips ahead.
    const int64_t oldest_kept = packets_.rbegin()->first - (kMaxFrames - 1);
    while (!packets_.empty() && packets_.begin()->first < oldest_kept) {
        packets_.erase(packets_.begin());
        ++stats_.overflow;
    }
    if (playing_ && next_ < oldest_kept)
        next_ = oldest_kept;
}

int64_t JitterBuffer::delay() const {
    return reference_ + since_newest_ - next_ + 1;
}

int JitterBuffer::delay_frames() const {
    return playing_ ? int(std::max<int64_t>(0, delay())) : 0;
}

void JitterBuffer::stop_playing() {
    playing_ = false;
    missing_since_played_ = 0;
    window_pulls_ = 0;
    backlog_ = 0;
    backlog_waited_ = 0;
}

int64_t JitterBuffer::floor() const {
    return std::max<int64_t>(target_, group_);
}

void JitterBuffer::measure_backlog() {
    least_delay_ = window_pulls_ == 0 ? delay() : std::min(least_delay_, delay());
    ++since_newest_;
    if (++window_pulls_ < kSettlePulls)
        return;
    window_pulls_ = 0;
    group_ = 0;
    for (int n = kMaxFrames; n > 0 && group_ == 0; --n)
        if (window_groups_[size_t(n)] > 1)
            group_ = n;
    window_groups_ = {};
    // One frame above the target (or the largest group) is the pulls' own timing against the arrivals; more
    // than that stood through the whole window. A backlog still waiting for a gap is in this figure too.
    const int64_t excess = least_delay_ - floor();
    backlog_ = excess > 1 ? excess : 0;
    if (backlog_ == 0)
        backlog_waited_ = 0;
}

void JitterBuffer::cut_backlog() {
    if (backlog_ == 0 || packets_.empty())
        return;
    // Never below the target: the delay now may be less than over the window.
    int64_t skip = std::min(backlog_, delay() - floor());
    if (skip <= 0) {
        backlog_ = 0;
        backlog_waited_ = 0;
        return;
    }
    const int64_t first = packets_.begin()->first;
    if (first > next_)
        skip = std::min(skip, first - next_); // a gap: skipping it cuts no sound
    else if (++backlog_waited_ < kPatiencePulls)
        return; // continuous speech: a gap may come soon
    else
        skip = std::min(skip, reference_ - next_ + 1 - floor());
    if (skip <= 0)
        return;
    next_ += skip;
    while (!packets_.empty() && packets_.begin()->first < next_)
        packets_.erase(packets_.begin());
    stats_.skipped += uint64_t(skip);
    backlog_ -= skip;
    if (backlog_ == 0)
        backlog_waited_ = 0;
}

JitterBuffer::Pull JitterBuffer::pull() {
    Pull out;
    late_since_pull_ = false;
    if (const int n = std::min(std::exchange(arrived_since_pull_, 0), kMaxFrames); n > 0)
        window_groups_[size_t(n)] = uint8_t(std::min(window_groups_[size_t(n)] + 1, 255));
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
    measure_backlog();
    cut_backlog();
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
        stop_playing();
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
