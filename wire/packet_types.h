// Packet types exchanged with the local service, in one place.
#pragma once

#include <cstdint>

namespace pkt {

enum Type : uint16_t {
    kLogin = 1,
    kChat = 2,
    kUserEntered = 4,
    kUserPresent = 5,
    kUserLeft = 7,
    kLinkLost = 8,
    kSystemText = 9,
    kVideoFrame = 10,
    kCameraState = 11,
    kMicrophoneOn = 12,
    kMicrophoneOff = 13,
    kOutputVolume = 21,
    kSpeakRequest = 22,
    kIgnored23 = 23,
    kMicrophoneState = 24,
    kWatchVideo = 25,
    kVideoWanted = 26,
    kSpeakControl = 27,
    kRightsChange = 28,
    // Speech between a local service and the room server; never on the client's link.
    kVoice = 40,
    // The room server's proof of a session, handed to the local service after its login; the service sends
    // it back with a reconnect's login to take its seat over. Never on the client's link.
    kSessionToken = 41,
    kMediaStart = 999,
    kLoginResult = 1001,
    kChatMessage = 1002,
    kLogoutResult = 1006,
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
