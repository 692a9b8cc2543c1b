// Whether the other end of a link between a local service and a room server is still there, when both ends
// keep the link alive (type 42, see docs/LINKS.md). Each end tells the other after how long a silence it
// gives the link up; each sends a keepalive at least every quarter of the shorter of the two limits, and
// gives the link up once it has heard nothing at all (not a byte) for its own limit. Anything the peer sends
// counts, so a link busy with a large video frame on a slow line is heard as long as bytes arrive, and a peer
// whose kernel still acknowledges for a frozen process is not. Plain state: the caller ticks it from its
// timer with its socket's read count. Called on the thread that owns the link.
#pragma once

#include <cstdint>
#include <vector>

class LinkLiveness {
public:
    // A limit a peer announces is taken as at least this: no peer makes us send more than a few keepalives a
    // second.
    static constexpr int kLeastLimitMs = 1000;

    // Watching starts now, as if the peer had just been heard.
    LinkLiveness(int limit_ms, int64_t now_ms);

    // The peer's keepalive: the limit after which it gives the link up.
    void peer_limit(uint32_t limit_ms);

    struct Step {
        bool silent = false;         // nothing heard for the limit: the link is to be given up
        bool send_keepalive = false; // a keepalive is due
    };
    // At a tick: `bytes_read` is the socket's count of bytes read so far, `unread` whether the kernel holds
    // bytes not read yet (heard, only not handled yet).
    Step tick(int64_t now_ms, uint64_t bytes_read, bool unread);
    // A keepalive to send now (a whole frame, naming this end's limit); counted as sent at `now_ms`.
    std::vector<uint8_t> keepalive_frame(int64_t now_ms);

    // How often a keepalive goes out, and so how often tick() is wanted at the most.
    int interval_ms() const;
    int limit_ms() const { return limit_ms_; }
    // How long nothing has been heard, as of the last tick.
    int64_t silent_for_ms(int64_t now_ms) const { return now_ms - last_heard_ms_; }

private:
    int limit_ms_;
    int peer_limit_ms_;
    int64_t last_heard_ms_;
    int64_t last_sent_ms_;
    uint64_t bytes_read_ = 0;
};
