// Framing of packets on a TCP stream: a 4-byte little-endian length L of what follows, a 2-byte little-endian
// packet type, then L - 2 payload bytes. L below 2 or above 1 MiB is a protocol error.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace framing {

constexpr size_t kHeaderSize = 6;
constexpr uint32_t kMaxLength = 1u << 20;
constexpr uint32_t kMaxPayload = kMaxLength - 2;

// Writes the header for a payload of `payload_size` bytes into the first six bytes of `out`.
void write_header(uint8_t* out, uint16_t type, uint32_t payload_size);

// A whole frame: header and payload.
std::vector<uint8_t> make_frame(uint16_t type, const uint8_t* payload, size_t payload_size);
inline std::vector<uint8_t> make_frame(uint16_t type, const std::vector<uint8_t>& payload) {
    return make_frame(type, payload.data(), payload.size());
}

// Turns a byte stream into packets. Bytes arrive in any pieces; each whole packet is handed to the callback
// (the payload pointer is valid during the call). After a protocol error it takes no more bytes.
class Decoder {
public:
    using PacketFn = std::function<void(uint16_t type, const uint8_t* payload, uint32_t size)>;

    // False once the stream has broken the framing rules.
    bool feed(const uint8_t* data, size_t size, const PacketFn& on_packet);
    bool failed() const { return failed_; }
    // The largest length field accepted from now on (at most kMaxLength); checked as soon as a header
    // arrives, so a frame that is too large is refused before any of it is buffered.
    void set_max_length(uint32_t length) { max_length_ = std::min(length, kMaxLength); }
    size_t buffered() const { return buffer_.size() - start_; }

private:
    // Hands out the whole frames at the start of `data`; `used` is how far they reach. False on a broken
    // rule.
    bool take(const uint8_t* data, size_t size, size_t* used, const PacketFn& on_packet);

    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
    bool failed_ = false;
    uint32_t max_length_ = kMaxLength;
};

} // namespace framing
