// Packet layouts (see protocol.h): the variable layouts, the login key and the tables made from the list of
// packet types. Offsets are the wire's; unset bytes are zero.
#include "wire/protocol.h"

#include <algorithm>
#include <cstring>

namespace proto {

namespace {

// The 68-byte head of a chat line; `length` is the text's length field (the terminator counted).
template <class C, class S, class N> void chat_head(C& c, S& s, N& length) {
    c.u32(0, s.sender);
    c.u32(8, s.target);
    c.u16(14, s.private_flag);
    c.text(32, ChatLine::kFaceSize, s.font_face);
    c.u16(56, s.effects);
    c.u16(58, s.height);
    c.u32(60, s.colour);
    c.u32(64, length);
}

// The 20-byte head of a video frame; `length` is the frame's length field.
template <class C, class S, class N> void video_head(C& c, S& s, N& length) {
    c.u32(0, s.user_id);
    c.u32(4, s.room_id);
    c.u32(8, length);
    c.u32(12, s.capture_length);
    c.u32(16, s.key_frame);
}

// The 16-byte head of a voice packet.
template <class C, class S> void voice_head(C& c, S& s) {
    c.u32(0, s.user_id);
    c.u32(4, s.sequence);
    c.u64(8, s.capture_us);
}

} // namespace

void UserBlock::encode_into(uint8_t* p) const {
    std::memset(p, 0, kSize);
    Writer w(p, kSize);
    fields(w, *this);
}

std::optional<std::array<uint8_t, 20>> decode_key_id(const std::string& text) {
    if (text.size() > 40)
        return std::nullopt;
    // Only pairs of hexadecimal digits: other characters would make several texts one key.
    if (text.size() % 2 != 0 || !std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        }))
        return std::nullopt;
    // Digits and both letter cases (tools print HMAC digests in lower case).
    auto value = [](char c) {
        const uint8_t u = uint8_t(c);
        return uint8_t(u >= 'a' ? u - 87 : u > '9' ? u - 55 : u - 48);
    };
    std::array<uint8_t, 20> key{};
    for (size_t i = 0; i < text.size(); i += 2) {
        uint8_t lo = i + 1 < text.size() ? value(text[i + 1]) : 0;
        key[i / 2] = uint8_t(16 * value(text[i]) + lo);
    }
    return key;
}

Bytes Login::encode() const {
    Bytes b = encode_fixed(*this);
    if (token) {
        b.resize(kSizeWithToken);
        std::memcpy(&b[kSize], token->data(), token->size());
    }
    return b;
}

std::optional<Login> Login::decode(const uint8_t* p, size_t n) {
    auto l = decode_fixed<Login>(p, n);
    if (l && n >= kSizeWithToken) {
        l->token.emplace();
        std::memcpy(l->token->data(), p + kSize, l->token->size());
    }
    return l;
}

Bytes ChatLine::encode() const {
    uint32_t length = uint32_t(text.size() + 1);
    Bytes b(kHeader + length + 1);
    Writer w(b.data(), kHeader);
    chat_head(w, *this, length);
    std::memcpy(&b[kHeader], text.data(), text.size());
    return b;
}

std::optional<ChatLine> ChatLine::decode(const uint8_t* p, size_t n) {
    if (!p || n < kHeader)
        return std::nullopt;
    ChatLine c;
    Reader r(p, kHeader);
    chat_head(r, c, c.declared_length);
    // Face codes hold zero bytes, so the text is taken by its length, not to its first zero; the length is
    // cut to the payload, and the terminating zero is not part of the text.
    const size_t available = std::min<size_t>(c.declared_length, n - kHeader);
    c.text.assign(reinterpret_cast<const char*>(p + kHeader), available);
    if (!c.text.empty() && c.text.back() == '\0')
        c.text.pop_back();
    return c;
}

Bytes VideoFrame::encode() const {
    uint32_t length = uint32_t(frame.size());
    Bytes b(kHeader + frame.size());
    Writer w(b.data(), kHeader);
    video_head(w, *this, length);
    if (!frame.empty())
        std::memcpy(&b[kHeader], frame.data(), frame.size());
    return b;
}

std::optional<VideoFrame> VideoFrame::decode(const uint8_t* p, size_t n) {
    if (!p || n < kHeader)
        return std::nullopt;
    VideoFrame v;
    Reader r(p, kHeader);
    video_head(r, v, v.declared_length);
    const size_t len = std::min<size_t>(v.declared_length, n - kHeader);
    v.frame.assign(p + kHeader, p + kHeader + len);
    return v;
}

Bytes SystemText::encode() const {
    Bytes b(kHeader + text.size() + 1);
    std::memcpy(&b[kHeader], text.data(), text.size());
    return b;
}

std::optional<SystemText> SystemText::decode(const uint8_t* p, size_t n) {
    if (!p || n < kHeader)
        return std::nullopt;
    SystemText t;
    Reader(p, n).text(kHeader, n - kHeader, t.text);
    return t;
}

Bytes VoicePacket::encode() const {
    Bytes b(kHeader + opus.size());
    Writer w(b.data(), kHeader);
    voice_head(w, *this);
    std::copy(opus.begin(), opus.end(), b.begin() + kHeader);
    return b;
}

std::optional<VoicePacket> VoicePacket::decode(const uint8_t* p, size_t n) {
    if (!p || n <= kHeader || n - kHeader > kMaxOpus)
        return std::nullopt;
    VoicePacket v;
    Reader r(p, kHeader);
    voice_head(r, v);
    v.opus.assign(p + kHeader, p + n);
    return v;
}

size_t min_payload(uint16_t type) {
    switch (type) {
#define QUORIN_PACKET_MIN(name, number, layout, least)                                                       \
    case pkt::name:                                                                                          \
        return least;
        QUORIN_PACKET_TYPES(QUORIN_PACKET_MIN)
#undef QUORIN_PACKET_MIN
    default:
        return 0;
    }
}

bool is_known_type(uint16_t type) {
    switch (type) {
#define QUORIN_PACKET_KNOWN(name, number, layout, least) case pkt::name:
        QUORIN_PACKET_TYPES(QUORIN_PACKET_KNOWN)
#undef QUORIN_PACKET_KNOWN
        return true;
    default:
        return false;
    }
}

} // namespace proto
