// Packet framing (see framing.h).
#include "wire/framing.h"

#include <cstring>

namespace framing {

void write_header(uint8_t* out, uint16_t type, uint32_t payload_size) {
    const uint32_t length = payload_size + 2;
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(length >> (8 * i));
    out[4] = uint8_t(type);
    out[5] = uint8_t(type >> 8);
}

std::vector<uint8_t> make_frame(uint16_t type, const uint8_t* payload, size_t payload_size) {
    std::vector<uint8_t> frame(kHeaderSize + payload_size);
    write_header(frame.data(), type, uint32_t(payload_size));
    if (payload_size)
        std::memcpy(frame.data() + kHeaderSize, payload, payload_size);
    return frame;
}

bool Decoder::take(const uint8_t* data, size_t size, size_t* used, const PacketFn& on_packet) {
    size_t at = 0;
    for (;;) {
        const size_t avail = size - at;
        if (avail < kHeaderSize)
            break;
        const uint8_t* p = data + at;
        const uint32_t length =
            uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
        if (length < 2 || length > max_length_) {
            failed_ = true;
            buffer_.clear();
            start_ = 0;
            return false;
        }
        if (avail < 4 + size_t(length))
            break;
        const uint16_t type = uint16_t(p[4] | (p[5] << 8));
        at += 4 + length;
        on_packet(type, p + kHeaderSize, length - 2);
    }
    *used = at;
    return true;
}

bool Decoder::feed(const uint8_t* data, size_t size, const PacketFn& on_packet) {
    if (failed_)
        return false;
    if (start_ == buffer_.size()) {
        // Nothing kept from before (the usual case: a read that holds whole frames): the frames are handed
        // out from the caller's bytes, and only an unfinished one at the end is kept.
        buffer_.clear();
        start_ = 0;
        size_t used = 0;
        if (!take(data, size, &used, on_packet))
            return false;
        buffer_.insert(buffer_.end(), data + used, data + size);
        return true;
    }
    buffer_.insert(buffer_.end(), data, data + size);
    size_t used = 0;
    if (!take(buffer_.data() + start_, buffer_.size() - start_, &used, on_packet))
        return false;
    start_ += used;
    // Drop what has been handed out once it is most of the buffer, so the buffer stays small.
    if (start_ > 0 && start_ * 2 >= buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + long(start_));
        start_ = 0;
    }
    return true;
}

} // namespace framing
