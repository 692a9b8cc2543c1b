// The interface through which every panel reaches the main dialog: numbered requests, and sending one typed
// packet. Panels hand over an encoded payload; the link frames and sends it.
#pragma once

#include <cstdint>
#include <string>

#include "wire/protocol.h"

struct UserRecord;
struct ChatLogEntry;

// Request numbers of call_back::request.
enum Request : int {
    kReqConnected = 4,
    kReqToggleMicrophone = 7,
    kReqToggleCamera = 8,
    kReqNoticeLine = 10,
    kReqMicrophoneOn = 12,
    kReqCameraOn = 13,
    kReqDeviceSetting = 14,
    kReqFindUser = 15,
    kReqFindUserByNickname = 16,
    kReqOutputMuted = 17,
    kReqIsHost = 18,
    kReqSpeakRequest = 19,
    kReqVideoWindow = 20,
    kReqHasRights = 21,
    kReqChatLine = 22,
    // A notice that ends with a file the client itself wrote, shown as a link that opens it.
    kReqFileNotice = 23,
    // How the client names a user (Roster::DisplayName); answers 0 for an unknown user.
    kReqDisplayName = 24,
};

// Request 24: the user and where the name (GBK) goes.
struct DisplayNameRequest {
    uint32_t user_id;
    std::string* name;
};

// Request 23: the notice's text (GBK) and the file (UTF-8 path).
struct FileNoticeRequest {
    const char* text;
    const char* path;
};

// Request 14: operation 1 reads the device id into value; any other operation writes value.
struct DeviceSettingRequest {
    int32_t operation;
    int32_t device; // 0 recording, 1 playback, 2 camera
    int32_t value;
};

// Request 15. The result is a pointer, so it has a field of a pointer's size.
struct FindUserRequest {
    uint32_t user_id;
    UserRecord* result;
};

// Request 16: the first user whose nickname equals the text byte for byte.
struct FindUserByNicknameRequest {
    const char* nickname;
    UserRecord* result;
};

// Request 20: operation 0 lends a video window for the user, 1 releases it.
struct VideoWindowRequest {
    int32_t operation;
    uint32_t user_id;
    const proto::UserBlock* block;
};

class call_back {
public:
    virtual ~call_back() = default;
    virtual int request(int type, void* data, int length) = 0;
    // Sends one packet of `type` with an encoded payload. False when the link is down or dropped it.
    virtual bool Send(uint16_t type, const proto::Bytes& payload) = 0;
};
