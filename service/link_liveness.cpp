// Liveness of a kept-alive link (see link_liveness.h).
#include "service/link_liveness.h"

#include <algorithm>

#include "wire/framing.h"
#include "wire/protocol.h"

LinkLiveness::LinkLiveness(int limit_ms, int64_t now_ms)
    : limit_ms_(std::max(limit_ms, kLeastLimitMs)), peer_limit_ms_(limit_ms_), last_heard_ms_(now_ms),
      last_sent_ms_(now_ms) {}

void LinkLiveness::peer_limit(uint32_t limit_ms) {
    // A peer cannot make us send more often than a few times a second, nor (with a huge limit) rarer than our
    // own limit asks.
    peer_limit_ms_ = int(std::clamp<uint32_t>(limit_ms, kLeastLimitMs, uint32_t(limit_ms_)));
}

int LinkLiveness::interval_ms() const {
    return std::min(limit_ms_, peer_limit_ms_) / 4;
}

LinkLiveness::Step LinkLiveness::tick(int64_t now_ms, uint64_t bytes_read, bool unread) {
    if (bytes_read != bytes_read_ || unread) {
        bytes_read_ = bytes_read;
        last_heard_ms_ = now_ms;
    }
    Step step;
    step.silent = now_ms - last_heard_ms_ >= limit_ms_;
    step.send_keepalive = !step.silent && now_ms - last_sent_ms_ >= interval_ms();
    return step;
}

std::vector<uint8_t> LinkLiveness::keepalive_frame(int64_t now_ms) {
    last_sent_ms_ = now_ms;
    return framing::make_frame(pkt::kKeepAlive, proto::KeepAlive{uint32_t(limit_ms_)}.encode());
}
