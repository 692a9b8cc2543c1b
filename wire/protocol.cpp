// Packet layouts (see protocol.h). Offsets are the wire's; unset bytes are zero.
#include "wire/protocol.h"

#include <algorithm>
#include <cstring>

namespace proto {

namespace {

void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint64_t get64(const uint8_t* p) {
    return uint64_t(get32(p)) | (uint64_t(get32(p + 4)) << 32);
}

// A text field of `size` bytes: the text cut to the field at a character boundary, zero-padded (a full field
// has no terminator).
void put_text(uint8_t* p, size_t size, const std::string& s) {
    std::memcpy(p, s.data(), gbk_fit(s, size));
}
// Reads to the terminator or to the end of the field, never past it.
std::string get_text(const uint8_t* p, size_t size) {
    const void* z = std::memchr(p, 0, size);
    return std::string(reinterpret_cast<const char*>(p),
                       z ? size_t(static_cast<const uint8_t*>(z) - p) : size);
}

void put_stream(uint8_t* p, const StreamDesc& s) {
    put32(p, s.fourcc);
    put16(p + 4, s.width);
    put16(p + 6, s.height);
    put16(p + 8, s.bpp);
}
StreamDesc get_stream(const uint8_t* p) {
    return {get32(p), get16(p + 4), get16(p + 6), get16(p + 8)};
}

} // namespace

void UserBlock::encode_into(uint8_t* p) const {
    std::memset(p, 0, kSize);
    put32(p, user_id);
    std::memcpy(p + 4, &ip, 4); // already in network byte order
    put16(p + 8, port);
    put32(p + 16, rights);
    put32(p + 20, state);
    put_stream(p + 24, stream);
    put_text(p + 34, kNickSize, nickname);
}

Bytes UserBlock::encode() const {
    Bytes b(kSize);
    encode_into(b.data());
    return b;
}

std::optional<UserBlock> UserBlock::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    UserBlock u;
    u.user_id = get32(p);
    std::memcpy(&u.ip, p + 4, 4);
    u.port = get16(p + 8);
    u.rights = get32(p + 16);
    u.state = get32(p + 20);
    u.stream = get_stream(p + 24);
    u.nickname = get_text(p + 34, kNickSize);
    return u;
}

size_t gbk_fit(const std::string& s, size_t max_bytes) {
    if (s.size() <= max_bytes)
        return s.size();
    size_t i = 0;
    while (i < max_bytes) {
        // A lead byte (0x81 to 0xFE) starts a two-byte character; everything else is one byte.
        const uint8_t b = uint8_t(s[i]);
        const size_t width = (b >= 0x81 && b <= 0xFE) ? 2 : 1;
        if (i + width > max_bytes)
            break;
        i += width;
    }
    return i;
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
    Bytes b(token ? kSizeWithToken : kSize);
    put32(&b[0], flags);
    put32(&b[4], app_type);
    put32(&b[8], user_id);
    put32(&b[12], room_id);
    std::memcpy(&b[16], key.data(), key.size());
    put64(&b[36], uint64_t(timestamp));
    put32(&b[44], window);
    if (token)
        std::memcpy(&b[kSize], token->data(), token->size());
    return b;
}

std::optional<Login> Login::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    Login l;
    l.flags = get32(p);
    l.app_type = get32(p + 4);
    l.user_id = get32(p + 8);
    l.room_id = get32(p + 12);
    std::memcpy(l.key.data(), p + 16, 20);
    l.timestamp = int64_t(get64(p + 36));
    l.window = get32(p + 44);
    if (n >= kSizeWithToken) {
        l.token.emplace();
        std::memcpy(l.token->data(), p + kSize, l.token->size());
    }
    return l;
}

Bytes SessionToken::encode() const {
    return Bytes(token.begin(), token.end());
}

std::optional<SessionToken> SessionToken::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    SessionToken t;
    std::memcpy(t.token.data(), p, kSize);
    return t;
}

Bytes ChatLine::encode() const {
    const size_t n = text.size() + 1;
    Bytes b(kHeader + n + 1);
    put32(&b[0], sender);
    put32(&b[8], target);
    put16(&b[14], private_flag);
    put_text(&b[32], kFaceSize, font_face);
    put16(&b[56], effects);
    put16(&b[58], height);
    put32(&b[60], colour);
    put32(&b[64], uint32_t(n));
    std::memcpy(&b[68], text.data(), text.size());
    return b;
}

std::optional<ChatLine> ChatLine::decode(const uint8_t* p, size_t n) {
    if (!p || n < kHeader)
        return std::nullopt;
    ChatLine c;
    c.sender = get32(p);
    c.target = get32(p + 8);
    c.private_flag = get16(p + 14);
    c.font_face = get_text(p + 32, kFaceSize);
    c.effects = get16(p + 56);
    c.height = get16(p + 58);
    c.colour = get32(p + 60);
    c.declared_length = get32(p + 64);
    // Face codes hold zero bytes, so the text is taken by its length, not to its first zero; the length is
    // cut to the payload, and the terminating zero is not part of the text.
    const size_t available = std::min<size_t>(c.declared_length, n - kHeader);
    c.text.assign(reinterpret_cast<const char*>(p + kHeader), available);
    if (!c.text.empty() && c.text.back() == '\0')
        c.text.pop_back();
    return c;
}

Bytes VideoFrame::encode() const {
    Bytes b(kHeader + frame.size());
    put32(&b[0], user_id);
    put32(&b[4], room_id);
    put32(&b[8], uint32_t(frame.size()));
    put32(&b[12], capture_length);
    put32(&b[16], key_frame);
    if (!frame.empty())
        std::memcpy(&b[kHeader], frame.data(), frame.size());
    return b;
}

std::optional<VideoFrame> VideoFrame::decode(const uint8_t* p, size_t n) {
    if (!p || n < kHeader)
        return std::nullopt;
    VideoFrame v;
    v.user_id = get32(p);
    v.room_id = get32(p + 4);
    const size_t declared = get32(p + 8);
    v.declared_length = uint32_t(declared);
    v.capture_length = get32(p + 12);
    v.key_frame = get32(p + 16);
    const size_t len = std::min(declared, n - kHeader);
    v.frame.assign(p + kHeader, p + kHeader + len);
    return v;
}

Bytes CameraState::encode() const {
    Bytes b(kSize);
    put32(&b[0], user_id);
    put32(&b[4], room_id);
    put_stream(&b[8], stream);
    return b;
}

std::optional<CameraState> CameraState::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return CameraState{get32(p), get32(p + 4), get_stream(p + 8)};
}

Bytes MicrophoneOn::encode() const {
    Bytes b(kSize);
    put32(&b[0], device);
    put32(&b[4], 30);
    put32(&b[8], 8);
    put32(&b[12], 8000);
    put16(&b[16], 16);
    put16(&b[18], 2);
    return b;
}

std::optional<MicrophoneOn> MicrophoneOn::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return MicrophoneOn{get32(p)};
}

Bytes OutputVolume::encode() const {
    Bytes b(kSize);
    put32(&b[0], 1);
    put32(&b[4], volume);
    return b;
}

std::optional<OutputVolume> OutputVolume::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return OutputVolume{get32(p + 4)};
}

Bytes WatchVideo::encode() const {
    Bytes b(kSize);
    put32(&b[0], user_id);
    put16(&b[4], start);
    return b;
}

std::optional<WatchVideo> WatchVideo::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return WatchVideo{get32(p), get16(p + 4)};
}

Bytes SpeakControl::encode() const {
    Bytes b(kSize);
    put32(&b[0], user_id);
    put16(&b[8], allow);
    return b;
}

std::optional<SpeakControl> SpeakControl::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return SpeakControl{get32(p), get16(p + 8)};
}

Bytes UserLeft::encode() const {
    Bytes b(kSize);
    put32(&b[0], user_id);
    put32(&b[8], ended_by);
    return b;
}

std::optional<UserLeft> UserLeft::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return UserLeft{get32(p), get32(p + 8)};
}

Bytes SystemText::encode() const {
    Bytes b(4 + text.size() + 1);
    std::memcpy(&b[4], text.data(), text.size());
    return b;
}

std::optional<SystemText> SystemText::decode(const uint8_t* p, size_t n) {
    if (!p || n < 4)
        return std::nullopt;
    return SystemText{get_text(p + 4, n - 4)};
}

Bytes SpeakRequest::encode() const {
    Bytes b(kSize);
    put32(&b[0], user_id);
    return b;
}

std::optional<SpeakRequest> SpeakRequest::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return SpeakRequest{get32(p)};
}

Bytes MicrophoneState::encode() const {
    Bytes b(kSize);
    put32(&b[0], user_id);
    b[4] = device;
    b[5] = off;
    return b;
}

std::optional<MicrophoneState> MicrophoneState::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return MicrophoneState{get32(p), p[4], p[5]};
}

Bytes VideoWanted::encode() const {
    Bytes b(kSize);
    put16(&b[0], wanted);
    return b;
}

std::optional<VideoWanted> VideoWanted::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return VideoWanted{get16(p)};
}

Bytes RightsChange::encode() const {
    Bytes b(kSize);
    put32(&b[0], user_id);
    put32(&b[8], rights);
    put16(&b[12], operation);
    b[14] = flags;
    return b;
}

std::optional<RightsChange> RightsChange::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return RightsChange{get32(p), get32(p + 8), get16(p + 12), p[14]};
}

Bytes LoginResult::encode() const {
    Bytes b(kSize);
    put32(&b[0], result);
    put32(&b[4], rights);
    put_text(&b[8], 20, nickname);
    put32(&b[28], output_volume);
    std::memcpy(&b[40], &ip, 4);
    put16(&b[44], port);
    return b;
}

std::optional<LoginResult> LoginResult::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    LoginResult r;
    r.result = get32(p);
    r.rights = get32(p + 4);
    r.nickname = get_text(p + 8, 20);
    r.output_volume = get32(p + 28);
    std::memcpy(&r.ip, p + 40, 4);
    r.port = get16(p + 44);
    return r;
}

Bytes LogoutResult::encode() const {
    Bytes b(kSize);
    put32(&b[0], result);
    return b;
}

std::optional<LogoutResult> LogoutResult::decode(const uint8_t* p, size_t n) {
    if (!p || n < kSize)
        return std::nullopt;
    return LogoutResult{get32(p)};
}

Bytes VoicePacket::encode() const {
    Bytes b(kHeader + opus.size());
    put32(&b[0], user_id);
    put32(&b[4], sequence);
    put64(&b[8], capture_us);
    std::copy(opus.begin(), opus.end(), b.begin() + kHeader);
    return b;
}

std::optional<VoicePacket> VoicePacket::decode(const uint8_t* p, size_t n) {
    if (!p || n <= kHeader || n - kHeader > kMaxOpus)
        return std::nullopt;
    VoicePacket v;
    v.user_id = get32(p);
    v.sequence = get32(p + 4);
    v.capture_us = get64(p + 8);
    v.opus.assign(p + kHeader, p + n);
    return v;
}

size_t min_payload(uint16_t type) {
    switch (type) {
    case pkt::kLogin:
        return Login::kSize;
    case pkt::kChat:
    case pkt::kChatMessage:
        return ChatLine::kHeader;
    case pkt::kUserEntered:
    case pkt::kUserPresent:
        return UserBlock::kSize;
    case pkt::kUserLeft:
        return UserLeft::kSize;
    case pkt::kSystemText:
        return 4;
    case pkt::kVideoFrame:
        return VideoFrame::kHeader;
    case pkt::kVoice:
        return VoicePacket::kHeader + 1;
    case pkt::kSessionToken:
        return SessionToken::kSize;
    case pkt::kCameraState:
        return CameraState::kSize;
    case pkt::kMicrophoneOn:
        return MicrophoneOn::kSize;
    case pkt::kOutputVolume:
        return OutputVolume::kSize;
    case pkt::kIgnored23:
        return 2;
    case pkt::kMicrophoneState:
        return MicrophoneState::kSize;
    case pkt::kWatchVideo:
        return WatchVideo::kSize;
    case pkt::kVideoWanted:
        return VideoWanted::kSize;
    case pkt::kSpeakControl:
        return SpeakControl::kSize;
    case pkt::kRightsChange:
        return RightsChange::kSize;
    case pkt::kLoginResult:
        return LoginResult::kSize;
    case pkt::kLogoutResult:
        return LogoutResult::kSize;
    default:
        return 0;
    }
}

bool is_known_type(uint16_t type) {
    switch (type) {
    case pkt::kLogin:
    case pkt::kChat:
    case pkt::kUserEntered:
    case pkt::kUserPresent:
    case pkt::kUserLeft:
    case pkt::kLinkLost:
    case pkt::kSystemText:
    case pkt::kVideoFrame:
    case pkt::kCameraState:
    case pkt::kMicrophoneOn:
    case pkt::kMicrophoneOff:
    case pkt::kOutputVolume:
    case pkt::kSpeakRequest:
    case pkt::kIgnored23:
    case pkt::kMicrophoneState:
    case pkt::kWatchVideo:
    case pkt::kVideoWanted:
    case pkt::kSpeakControl:
    case pkt::kRightsChange:
    case pkt::kVoice:
    case pkt::kSessionToken:
    case pkt::kMediaStart:
    case pkt::kLoginResult:
    case pkt::kChatMessage:
    case pkt::kLogoutResult:
        return true;
    default:
        return false;
    }
}

} // namespace proto
