// Every packet layout exchanged with the local service, both directions: little-endian, packed, fixed-size
// zero-terminated GBK text fields. Each layout encodes to its payload and decodes from one; a payload shorter
// than its layout decodes to nothing, and lengths inside a packet are checked against the payload. A fixed
// layout names its offsets once, in `fields` (see wire/cursor.h); the variable ones do so in protocol.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "wire/cursor.h"
#include "wire/packet_types.h"

namespace proto {

using ::gbk_fit;

// The payload of a type that carries none (or none that anybody reads).
struct NoLayout {
    static constexpr size_t kSize = 0;
    Bytes encode() const { return {}; }
    static std::optional<NoLayout> decode(const uint8_t*, size_t) { return NoLayout{}; }
};

// One user (54 bytes): types 4 and 5.
struct UserBlock {
    static constexpr size_t kSize = 54;
    static constexpr size_t kNickSize = 20;
    uint32_t user_id = 0;
    uint32_t ip = 0; // network byte order
    uint16_t port = 0;
    uint32_t rights = 0;
    uint32_t state = 0;
    StreamDesc stream;
    std::string nickname; // GBK, at most 20 bytes
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.raw32(4, s.ip);
        c.u16(8, s.port);
        c.u32(16, s.rights);
        c.u32(20, s.state);
        c.stream(24, s.stream);
        c.text(34, kNickSize, s.nickname);
    }
    Bytes encode() const { return encode_fixed(*this); }
    void encode_into(uint8_t* out) const; // exactly kSize bytes
    static std::optional<UserBlock> decode(const uint8_t* p, size_t n) {
        return decode_fixed<UserBlock>(p, n);
    }
};

// Key id text to the 20 bytes of the login; nothing when the text is longer than 40 characters or is not
// pairs of hexadecimal digits (either case).
std::optional<std::array<uint8_t, 20>> decode_key_id(const std::string& text);

// Type 1 (48 bytes).
struct Login {
    static constexpr size_t kSize = 48;
    // Between a local service and the room server only: a reconnect's login may carry the session token.
    static constexpr size_t kSizeWithToken = kSize + 16;
    static constexpr uint32_t kReconnectFlag = 4;
    // Between a local service and the room server only: the sender keeps the link alive (type 42) once the
    // room server says that it does too. A client never sets it; a room server that does not know it
    // ignores it.
    static constexpr uint32_t kKeepAliveFlag = 0x10000;
    uint32_t flags = 0;
    uint32_t app_type = 2;
    uint32_t user_id = 0;
    uint32_t room_id = 0;
    std::array<uint8_t, 20> key{};
    int64_t timestamp = 0;
    uint32_t window = 0;
    std::optional<std::array<uint8_t, 16>> token; // after the 48 bytes, when present
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.flags);
        c.u32(4, s.app_type);
        c.u32(8, s.user_id);
        c.u32(12, s.room_id);
        c.bytes(16, s.key);
        c.i64(36, s.timestamp);
        c.u32(44, s.window);
    }
    Bytes encode() const;
    static std::optional<Login> decode(const uint8_t* p, size_t n);
};

// Types 2 and 1002 (69 + n bytes).
struct ChatLine {
    static constexpr size_t kHeader = 68;
    static constexpr size_t kFaceSize = 24;
    uint32_t sender = 0;
    uint32_t target = pkt::kEveryone;
    uint16_t private_flag = 0;
    std::string font_face;        // GBK, at most 24 bytes
    uint16_t effects = 0;         // bit 0 bold, bit 1 italic, bit 2 underline
    uint16_t height = 0;          // twips
    uint32_t colour = 0;          // 0x00BBGGRR
    std::string text;             // encoded text (face codes included) without its terminator
    uint32_t declared_length = 0; // as received: the length field, which may claim more than the payload
    Bytes encode() const;
    // The text is taken by its length field, cut to the payload; a terminating zero is dropped.
    static std::optional<ChatLine> decode(const uint8_t* p, size_t n);
};

// Type 10 (20 + n bytes).
struct VideoFrame {
    static constexpr size_t kHeader = 20;
    uint32_t user_id = 0;
    uint32_t room_id = 0;
    uint32_t capture_length = 0;
    uint32_t key_frame = 0;
    uint32_t declared_length = 0; // as received: the length field, which may claim more than the payload
    Bytes frame;
    Bytes encode() const;
    // A frame length past the payload is cut to what is there.
    static std::optional<VideoFrame> decode(const uint8_t* p, size_t n);
};

// Type 11 (18 bytes).
struct CameraState {
    static constexpr size_t kSize = 18;
    uint32_t user_id = 0;
    uint32_t room_id = 0;
    StreamDesc stream; // all zero when the camera stops
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.u32(4, s.room_id);
        c.stream(8, s.stream);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<CameraState> decode(const uint8_t* p, size_t n) {
        return decode_fixed<CameraState>(p, n);
    }
};

// Type 12 (20 bytes): the device, then the one audio format every client announces.
struct MicrophoneOn {
    static constexpr size_t kSize = 20;
    uint32_t device = 0;
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.device);
        c.constant32(4, 30);
        c.constant32(8, 8);
        c.constant32(12, 8000);
        c.constant16(16, 16);
        c.constant16(18, 2);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<MicrophoneOn> decode(const uint8_t* p, size_t n) {
        return decode_fixed<MicrophoneOn>(p, n);
    }
};

// Type 21 (8 bytes).
struct OutputVolume {
    static constexpr size_t kSize = 8;
    uint32_t volume = 0;
    template <class C, class S> static void fields(C& c, S& s) {
        c.constant32(0, 1);
        c.u32(4, s.volume);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<OutputVolume> decode(const uint8_t* p, size_t n) {
        return decode_fixed<OutputVolume>(p, n);
    }
};

// Type 25 (6 bytes).
struct WatchVideo {
    static constexpr size_t kSize = 6;
    uint32_t user_id = 0;
    uint16_t start = 0;
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.u16(4, s.start);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<WatchVideo> decode(const uint8_t* p, size_t n) {
        return decode_fixed<WatchVideo>(p, n);
    }
};

// Type 27 (12 bytes).
struct SpeakControl {
    static constexpr size_t kSize = 12;
    uint32_t user_id = 0;
    uint16_t allow = 0;
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.u16(8, s.allow);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<SpeakControl> decode(const uint8_t* p, size_t n) {
        return decode_fixed<SpeakControl>(p, n);
    }
};

// Type 7 (12 bytes).
struct UserLeft {
    static constexpr size_t kSize = 12;
    uint32_t user_id = 0;
    uint32_t ended_by = 0; // 1 the server, other values the peer
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.u32(8, s.ended_by);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<UserLeft> decode(const uint8_t* p, size_t n) { return decode_fixed<UserLeft>(p, n); }
};

// Type 9 (4 + text).
struct SystemText {
    static constexpr size_t kHeader = 4;
    std::string text;
    Bytes encode() const;
    static std::optional<SystemText> decode(const uint8_t* p, size_t n);
};

// Type 22 from the service (4 bytes): who raised a hand.
struct SpeakRequest {
    static constexpr size_t kSize = 4;
    uint32_t user_id = 0;
    template <class C, class S> static void fields(C& c, S& s) { c.u32(0, s.user_id); }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<SpeakRequest> decode(const uint8_t* p, size_t n) {
        return decode_fixed<SpeakRequest>(p, n);
    }
};

// Type 29 from the service and type 30 to it (4 bytes): the user concerned.
struct UserRef {
    static constexpr size_t kSize = 4;
    uint32_t user_id = 0;
    template <class C, class S> static void fields(C& c, S& s) { c.u32(0, s.user_id); }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<UserRef> decode(const uint8_t* p, size_t n) { return decode_fixed<UserRef>(p, n); }
};

// Type 31 to the local service (6 bytes): the playback level of one speaker. A receiver holds the percent
// to kMaxPercent.
struct SpeakerVolume {
    static constexpr size_t kSize = 6;
    static constexpr uint16_t kMaxPercent = 200;
    uint32_t user_id = 0;
    uint16_t percent = 100;
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.u16(4, s.percent);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<SpeakerVolume> decode(const uint8_t* p, size_t n) {
        return decode_fixed<SpeakerVolume>(p, n);
    }
};

// Type 24 (6 bytes).
struct MicrophoneState {
    static constexpr size_t kSize = 6;
    uint32_t user_id = 0;
    uint8_t device = 1; // 1 the microphone
    uint8_t off = 0;    // 0 on, other values off
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.u8(4, s.device);
        c.u8(5, s.off);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<MicrophoneState> decode(const uint8_t* p, size_t n) {
        return decode_fixed<MicrophoneState>(p, n);
    }
};

// Type 41 (16 bytes), room server to local service: the session's token.
struct SessionToken {
    static constexpr size_t kSize = 16;
    std::array<uint8_t, 16> token{};
    template <class C, class S> static void fields(C& c, S& s) { c.bytes(0, s.token); }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<SessionToken> decode(const uint8_t* p, size_t n) {
        return decode_fixed<SessionToken>(p, n);
    }
};

// Type 42 (4 bytes), between a local service and the room server, both ways: the sender is alive, and gives
// the link up when it has heard nothing for `silence_limit_ms`.
struct KeepAlive {
    static constexpr size_t kSize = 4;
    uint32_t silence_limit_ms = 0;
    template <class C, class S> static void fields(C& c, S& s) { c.u32(0, s.silence_limit_ms); }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<KeepAlive> decode(const uint8_t* p, size_t n) {
        return decode_fixed<KeepAlive>(p, n);
    }
};

// Type 26 (2 bytes).
struct VideoWanted {
    static constexpr size_t kSize = 2;
    uint16_t wanted = 0;
    template <class C, class S> static void fields(C& c, S& s) { c.u16(0, s.wanted); }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<VideoWanted> decode(const uint8_t* p, size_t n) {
        return decode_fixed<VideoWanted>(p, n);
    }
};

// Type 28 (16 bytes).
struct RightsChange {
    static constexpr size_t kSize = 16;
    uint32_t user_id = 0;
    uint32_t rights = 0;
    uint16_t operation = 0; // 21 add, 22 remove
    uint8_t flags = 0;      // bit 0 quiet
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.user_id);
        c.u32(8, s.rights);
        c.u16(12, s.operation);
        c.u8(14, s.flags);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<RightsChange> decode(const uint8_t* p, size_t n) {
        return decode_fixed<RightsChange>(p, n);
    }
};

// Type 1001 (46 bytes).
struct LoginResult {
    static constexpr size_t kSize = 46;
    uint32_t result = 0;
    uint32_t rights = 0;
    std::string nickname;
    uint32_t output_volume = 0;
    uint32_t ip = 0; // network byte order
    uint16_t port = 0;
    template <class C, class S> static void fields(C& c, S& s) {
        c.u32(0, s.result);
        c.u32(4, s.rights);
        c.text(8, 20, s.nickname);
        c.u32(28, s.output_volume);
        c.raw32(40, s.ip);
        c.u16(44, s.port);
    }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<LoginResult> decode(const uint8_t* p, size_t n) {
        return decode_fixed<LoginResult>(p, n);
    }
};

// Type 1006 (4 bytes).
struct LogoutResult {
    static constexpr size_t kSize = 4;
    uint32_t result = 0;
    template <class C, class S> static void fields(C& c, S& s) { c.u32(0, s.result); }
    Bytes encode() const { return encode_fixed(*this); }
    static std::optional<LogoutResult> decode(const uint8_t* p, size_t n) {
        return decode_fixed<LogoutResult>(p, n);
    }
};

// Type 40 (16 bytes and the Opus packet): one 20 ms frame of speech.
struct VoicePacket {
    static constexpr size_t kHeader = 16;
    static constexpr size_t kMaxOpus = 1275; // the largest Opus packet of one frame
    uint32_t user_id = 0;                    // the speaker (set by the room server)
    uint32_t sequence = 0;                   // one a frame, silent frames that are not sent included
    uint64_t capture_us = 0;                 // the speaker's monotonic clock when the frame's capture ended
    Bytes opus;
    Bytes encode() const;
    // Refuses an empty or oversized Opus packet.
    static std::optional<VoicePacket> decode(const uint8_t* p, size_t n);
};

// The layout of a packet type: Layout<pkt::kUserLeft>::type is UserLeft.
template <uint16_t Type> struct Layout;
#define QUORIN_PACKET_LAYOUT(name, number, layout, least)                                                    \
    template <> struct Layout<pkt::name> { using type = layout; };
QUORIN_PACKET_TYPES(QUORIN_PACKET_LAYOUT)
#undef QUORIN_PACKET_LAYOUT

// Decodes a payload as the layout of its type.
template <uint16_t Type> std::optional<typename Layout<Type>::type> decode_as(const uint8_t* p, size_t n) {
    return Layout<Type>::type::decode(p, n);
}

// The fixed payload size of a type, or its minimum for the variable ones; 0 for types without payload and
// for unknown types (see is_known_type).
size_t min_payload(uint16_t type);
bool is_known_type(uint16_t type);

} // namespace proto
