// What the session core asks of the panels of the main window. Each panel implements its interface; tests
// pass doubles. Texts are GBK bytes.
#pragma once

#include <cstdint>
#include <string>

#include "protocol.h"

struct UserRecord;
struct ChatLogEntry;

class IUserList {
public:
    virtual ~IUserList() = default;
    virtual UserRecord* FindUser(uint32_t user_id) = 0;
    virtual UserRecord* FindUserByNickname(const std::string& nickname) = 0;
    virtual UserRecord* SelfUser() = 0;
    virtual bool HostOnline() = 0;
    // Frees every record, clears the host-online flag and the local user's record, resets count, page and tiles.
    virtual void ClearUsers() = 0;
};

class IMessageLog {
public:
    virtual ~IMessageLog() = default;
    virtual void AddNoticeLine(const std::string& text) = 0;
    virtual void AppendChatLine(const ChatLogEntry* entry) = 0;
};

class IStatusBar {
public:
    virtual ~IStatusBar() = default;
    virtual bool IsOutputMuted() = 0;
    // The recording device changed: select that input line and refresh the volume display.
    virtual void SelectRecordingDevice(int device_id) = 0;
    // Resets the room's user count (after a reconnect the room is announced anew).
    virtual void ResetUserCount() = 0;
};

class IChatInput {
public:
    virtual ~IChatInput() = default;
    // Empties the recipient list, adds the single item "所有人" and selects it.
    virtual void ResetRecipients() = 0;
};

class IVideoRegistry {
public:
    virtual ~IVideoRegistry() = default;
    virtual bool AssignWindow(uint32_t user_id, uint32_t room_id, const proto::UserBlock& block) = 0;
    virtual bool ReleaseWindow(uint32_t user_id, uint32_t room_id) = 0;
    virtual void ReleaseAll() = 0;
};

// The local media actions that requests 7, 8 and 19 start.
class ISessionActions {
public:
    virtual ~ISessionActions() = default;
    virtual bool ToggleMicrophone(int device_id) = 0;
    virtual bool ToggleCamera(int device_id) = 0;
    virtual bool RequestToSpeak() = 0;
};

// The panels, as the session core sees them; a null member is a panel not made yet.
struct Panels {
    IUserList* user_list = nullptr;
    IMessageLog* message_log = nullptr;
    IStatusBar* status_bar = nullptr;
    IChatInput* chat_input = nullptr;
    IVideoRegistry* video = nullptr;
};
