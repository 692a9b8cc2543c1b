// The capture queue (see capture_queue.h).
#include "voice/capture_queue.h"

#include <algorithm>
#include <cstring>

#include "voice/opus_codec.h"

namespace voice {

namespace {
constexpr size_t kFrameBytes = size_t(kFrameSamples) * 2;
constexpr size_t kMaxBytes = size_t(kSampleRate) * 2; // a second
} // namespace

CaptureQueue::CaptureQueue() {
    bytes_.reserve(kMaxBytes);
}

void CaptureQueue::append(const uint8_t* data, size_t bytes) {
    bytes = std::min(bytes, kMaxBytes - bytes_.size());
    if (data)
        bytes_.insert(bytes_.end(), data, data + bytes);
    else
        bytes_.insert(bytes_.end(), bytes, 0);
}

void CaptureQueue::catch_up() {
    const size_t frames = bytes_.size() / kFrameBytes;
    if (frames <= kMaxWaitingFrames)
        return;
    const size_t drop = frames - kKeptFrames;
    drop_front(drop * kFrameBytes);
    dropped_ += drop;
    not_told_ += drop;
}

bool CaptureQueue::take_frame(int16_t* frame) {
    if (bytes_.size() < kFrameBytes)
        return false;
    std::memcpy(frame, bytes_.data(), kFrameBytes);
    drop_front(kFrameBytes);
    return true;
}

size_t CaptureQueue::waiting_frames() const {
    return bytes_.size() / kFrameBytes;
}

void CaptureQueue::drop_front(size_t bytes) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + long(bytes));
}

} // namespace voice
