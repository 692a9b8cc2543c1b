// Packet types exchanged with the local service, in one place.
#pragma once

#include <cstdint>

namespace pkt {

// Every packet type, once: X(name, number, payload layout, least payload). The layout is the struct of
// wire/protocol.h that the payload holds (NoLayout when there is none); the least payload is the layout's
// fixed size, or the fixed header of a variable layout, or 0 for types that may come without one. The enum,
// min_payload, is_known_type and Layout<> are made from this list, so a new type is one line here plus its
// struct.
// clang-format off
#define QUORIN_PACKET_TYPES(X)                                                                    \
    X(kLogin,           1,    Login,           Login::kSize)                                      \
    X(kChat,            2,    ChatLine,        ChatLine::kHeader)                                 \
    X(kUserEntered,     4,    UserBlock,       UserBlock::kSize)                                  \
    X(kUserPresent,     5,    UserBlock,       UserBlock::kSize)                                  \
    X(kUserLeft,        7,    UserLeft,        UserLeft::kSize)                                   \
    X(kLinkLost,        8,    NoLayout,        0)                                                 \
    X(kSystemText,      9,    SystemText,      SystemText::kHeader)                               \
    X(kVideoFrame,      10,   VideoFrame,      VideoFrame::kHeader)                               \
    X(kCameraState,     11,   CameraState,     CameraState::kSize)                                \
    X(kMicrophoneOn,    12,   MicrophoneOn,    MicrophoneOn::kSize)                               \
    X(kMicrophoneOff,   13,   NoLayout,        0)                                                 \
    X(kOutputVolume,    21,   OutputVolume,    OutputVolume::kSize)                               \
    /* empty from a client; the room's names the asker */                                         \
    X(kSpeakRequest,    22,   SpeakRequest,    0)                                                 \
    X(kIgnored23,       23,   NoLayout,        2)                                                 \
    X(kMicrophoneState, 24,   MicrophoneState, MicrophoneState::kSize)                            \
    X(kWatchVideo,      25,   WatchVideo,      WatchVideo::kSize)                                 \
    X(kVideoWanted,     26,   VideoWanted,     VideoWanted::kSize)                                \
    X(kSpeakControl,    27,   SpeakControl,    SpeakControl::kSize)                               \
    X(kRightsChange,    28,   RightsChange,    RightsChange::kSize)                               \
    /* classroom management beside the above: to the service empty (the own hand goes down), */   \
    /* from it to the host the user whose hand went down */                                        \
    X(kHandLowered,     29,   UserRef,         0)                                                 \
    /* host only: the user to remove from the class */                                            \
    X(kRemoveUser,      30,   UserRef,         UserRef::kSize)                                    \
    /* to the local service only: how loud one speaker is played */                               \
    X(kSpeakerVolume,   31,   SpeakerVolume,   SpeakerVolume::kSize)                              \
    /* speech between a local service and the room server; never on the client's link */         \
    X(kVoice,           40,   VoicePacket,     VoicePacket::kHeader + 1)                          \
    /* a session's proof, room server to local service only; a reconnect sends it back */         \
    X(kSessionToken,    41,   SessionToken,    SessionToken::kSize)                               \
    /* between a local service and the room server only, once both ends have said they take it: the */      \
    /* sender is alive, and gives the link up after so long without hearing anything (see docs/LINKS.md) */ \
    X(kKeepAlive,       42,   KeepAlive,       KeepAlive::kSize)                                  \
    X(kMediaStart,      999,  NoLayout,        0)                                                 \
    X(kLoginResult,     1001, LoginResult,     LoginResult::kSize)                                \
    X(kChatMessage,     1002, ChatLine,        ChatLine::kHeader)                                 \
    X(kLogoutResult,    1006, LogoutResult,    LogoutResult::kSize)
// clang-format on

enum Type : uint16_t {
#define QUORIN_PACKET_ENUM(name, number, layout, least) name = number,
    QUORIN_PACKET_TYPES(QUORIN_PACKET_ENUM)
#undef QUORIN_PACKET_ENUM
};

// Rights bits of a user block.
enum Rights : uint32_t { kRightHost = 1, kRightCamera = 2, kRightSpeak = 4, kRightChat = 64 };

// State bits of a user block, kept by the client.
enum State : uint32_t { kStateMicrophone = 1, kStateVideo = 2, kStateHand = 0x20 };

// Chat target meaning everyone.
constexpr uint32_t kEveryone = 0xFFFFFFFFu;

// Rights change operations.
constexpr uint16_t kRightsAdd = 21;
constexpr uint16_t kRightsRemove = 22;

} // namespace pkt
