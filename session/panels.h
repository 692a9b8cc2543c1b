// What the session core asks of the panels of the main window. Each panel implements its interface; tests
// pass doubles. Texts are GBK bytes. Every call runs on the UI thread, except OnRecvVideo (link thread). The
// room's users are not a panel: they live in the roster model (session/roster.h), which the user list views.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/audio_devices.h"
#include "wire/protocol.h"

struct ChatLogEntry;

// A chat message (type 1002) as the message log shows it (GBK).
struct IncomingChatLine {
    uint32_t sender = 0;
    uint32_t target = pkt::kEveryone;
    uint16_t private_flag = 0;
    std::string font_face;
    uint16_t effects = 0;
    uint16_t height = 0;
    uint32_t colour = 0;
    std::string text; // encoded (face codes included), without its terminator
};

class IMessageLog {
public:
    virtual ~IMessageLog() = default;
    virtual void AddNoticeLine(const std::string& text) = 0;
    // Shown only while the detail switch is on.
    virtual void AddDebugLine(const std::string& text) = 0;
    virtual void AppendChatLine(const ChatLogEntry* entry) = 0;
    // A chat message (type 1002), read by the session.
    virtual void OnChatLine(const IncomingChatLine& line) = 0;
    // A system text (type 9), shown in red.
    virtual void AddSystemText(const std::string& text) = 0;
    virtual bool DetailOn() = 0;
    // A notice followed by a link to a file the client wrote itself (a snapshot).
    virtual void AddFileNoticeLine(const std::string& text, const std::string& utf8_path) {
        AddNoticeLine(text + " " + utf8_path);
    }
};

class IStatusBar {
public:
    virtual ~IStatusBar() = default;
    virtual bool IsOutputMuted() = 0;
    // Selects the recording device's input line and refreshes the microphone slider.
    virtual void SetRecordingDevice(int device_id) = 0;
    // Makes the output slider and button act on the playback device's card.
    virtual void SetPlaybackDevice(int device_id) = 0;
    virtual int UserCount() = 0;
    virtual void SetUserCount(int count) = 0;
    // "房间人数：%d人" with the current count.
    virtual void ShowUserCount() = 0;
    // "发起人：%s".
    virtual void ShowHost(const std::string& nickname) = 0;
    // What the link is doing (reconnecting, waiting before the next try); empty when it is up. GBK.
    virtual void ShowLinkState(const std::string& text) = 0;
    // The microphone button: when connected, unmutes the microphone line if the microphone is off, then
    // toggles the microphone (request 7).
    virtual void ToggleMicrophone() = 0;
    // The microphone went off without a click (the service could not open it): the button shows it off.
    virtual void ShowMicrophoneState(bool on) { (void)on; }
    // Mixer: the microphone as recording source; mute a mixer line.
    virtual void SelectMic() = 0;
    virtual void SetMute(int line, bool mute) = 0;
};

class IChatInput {
public:
    virtual ~IChatInput() = default;
    // Empties the recipient list, adds the single item "所有人" and selects it.
    virtual void ResetRecipients() = 0;
    // A user of the room as a recipient: shown by nickname, addressed by user id (nicknames need not be
    // unique).
    virtual void AddRecipient(uint32_t user_id, const std::string& nickname) = 0;
    // Removes the user's entry from the recipients; when it was there, notices that the user left.
    virtual void OnUserLeft(uint32_t user_id) = 0;
};

class IVideoRegistry {
public:
    virtual ~IVideoRegistry() = default;
    virtual bool AssignWindow(uint32_t user_id, uint32_t room_id, const proto::UserBlock& block) = 0;
    virtual bool ReleaseWindow(uint32_t user_id, uint32_t room_id) = 0;
    virtual void ReleaseAll() = 0;
    // A video frame (type 10), on the link thread.
    virtual void OnRecvVideo(const uint8_t* data, size_t length) = 0;
};

class IMediaPanel {
public:
    virtual ~IMediaPanel() = default;
    virtual bool CameraPresent() = 0;
    // Starts or stops the local camera; true when it did.
    virtual bool SwitchCamera(bool on, int device_id) = 0;
    virtual void SetVideoWanted(bool wanted) = 0;
    // The start-up audio check; true when it found a problem.
    virtual bool ProbeEchoCancellation() = 0;
};

class ISound {
public:
    virtual ~ISound() = default;
    // Plays a sound file without waiting for it.
    virtual void PlayAsync(const std::string& path) = 0;
};

// The devices of the machine as the lists of the setup dialogs show them (a device's id is its position).
struct DeviceLists {
    std::vector<AudioDevice> recording, playback;
    std::vector<std::string> cameras;
};

// The two setup dialogs; each returns true on OK with the chosen ids.
class IDeviceDialogs {
public:
    virtual ~IDeviceDialogs() = default;
    virtual bool RunAudioSetup(int& record_id, int& play_id) = 0;
    virtual bool RunVideoSetup(int& camera_id) = 0;
    // Devices came or went: an open dialog shows the new lists, keeping the chosen device where it is still
    // there.
    virtual void DevicesChanged(const DeviceLists&) {}
};

// A chat line as the chat input hands it over (GBK); the session encodes it as type 2.
struct OutgoingChatLine {
    uint32_t target = pkt::kEveryone;
    bool private_line = false;
    std::string font_face;
    uint16_t effects = 0; // bit 0 bold, bit 1 italic, bit 2 underline
    uint16_t height = 0;  // twips
    uint32_t colour = 0;  // 0x00BBGGRR
    std::string text;     // encoded (face codes included), without its terminator
};

// What the panels ask of the session: the local media actions that requests 7, 8 and 19 start, and the
// intents of their clicks. The session encodes and sends; a panel never builds a packet (only the video frame
// path sends its frames itself).
class ISessionActions {
public:
    virtual ~ISessionActions() = default;
    virtual bool ToggleMicrophone(int device_id) = 0;
    virtual bool ToggleCamera(int device_id) = 0;
    virtual bool RequestToSpeak() = 0;
    virtual void StopWatching(uint32_t user_id) = 0;
    // Starts receiving a user's video (type 25 with 1).
    virtual void WatchUser(uint32_t user_id) = 0;
    // The host grants (true) or withdraws a user's speech (type 27).
    virtual void AllowSpeech(uint32_t user_id, bool allow) = 0;
    // The level the room plays to this user (type 21); 0 silences it.
    virtual void SetOutputVolume(uint32_t volume) = 0;
    // Type 2. False when the link is down or dropped the line.
    virtual bool SendChatLine(const OutgoingChatLine& line) = 0;
    // Tells the room the local camera's format (type 11): the compressor's, or all zeros when the camera went
    // off.
    virtual void AnnounceCamera(const proto::StreamDesc& stream) = 0;
};

// What the host and the participants do to run a class, beside the media actions: hands, speech for
// everybody, removal and the level of each speaker. UI thread.
class IClassActions {
public:
    virtual ~IClassActions() = default;
    // The local user's hand is up (asked to speak, not yet granted).
    virtual bool OwnHandRaised() = 0;
    // Lowers the local user's own hand; false when it was not up.
    virtual bool LowerOwnHand() = 0;
    // Host: grants a user the right to speak; the user's hand goes down.
    virtual bool GrantSpeech(uint32_t user_id) = 0;
    // Host: takes the right to speak back from everyone who has it; the number of users concerned.
    virtual int WithdrawAllSpeech() = 0;
    // Host: removes a user from the class; false when that is not possible (not host, the own seat).
    virtual bool RemoveFromClass(uint32_t user_id) = 0;
    // How loud one remote speaker is played, 0 to 200 percent.
    virtual void SetSpeakerVolume(uint32_t user_id, int percent) = 0;
    virtual int SpeakerVolume(uint32_t user_id) = 0;
};

// What the panels have shown, for whoever watches a run from outside (the run report of tests and headless
// runs, app/RunReport). A panel with an observer tells it after the change is on the screen; without one it
// tells nobody. Texts are GBK. UI thread, except VideoPictureShown (the link thread that decodes).
class IPanelObserver {
public:
    virtual ~IPanelObserver() = default;
    // Message log: a notice line (as cut for the log), one that ends with a link to a file, a chat line of
    // somebody (its text with faces as "[n]"), and the faces of a chat line just shown.
    virtual void NoticeShown(const std::string& text) { (void)text; }
    virtual void FileNoticeShown(const std::string& text, const std::string& utf8_path) {
        (void)text, (void)utf8_path;
    }
    virtual void ChatShown(uint32_t sender, uint16_t private_flag, const std::string& plain) {
        (void)sender, (void)private_flag, (void)plain;
    }
    virtual void ChatFacesShown(int faces, bool animating) { (void)faces, (void)animating; }
    // Chat input: the own line went out (to a user id, or pkt::kEveryone).
    virtual void ChatSent(uint32_t target) { (void)target; }
    // Status bar: the room's size and the link's state as shown.
    virtual void UserCountShown(int count) { (void)count; }
    virtual void LinkStateShown(const std::string& text) { (void)text; }
    // User list: a tile shows a user (the stored picture, or one drawn from the nickname); a user's tile
    // was redrawn after a change; a user's picture download ended (download::Result).
    virtual void TileFilled(int slot, uint32_t user_id, bool picture) {
        (void)slot, (void)user_id, (void)picture;
    }
    virtual void TileChanged(const proto::UserBlock& block) { (void)block; }
    virtual void PictureArrived(uint32_t user_id, int result) { (void)user_id, (void)result; }
    // A remote video window decoded its `decoded`-th picture of the user (now and then, not every one).
    virtual void VideoPictureShown(uint32_t user_id, uint64_t decoded) { (void)user_id, (void)decoded; }
};

// Receivers of posted window messages.
enum class Window { MainDialog, UserList, StatusBar };

class IMessagePoster {
public:
    virtual ~IMessagePoster() = default;
    // Posts (id, wParam, lParam) to a window.
    virtual void Post(Window to, unsigned id, intptr_t wparam, intptr_t lparam) = 0;
    // Posts with wParam pointing at `payload`, which lives until the handler has returned (a handler that
    // keeps the data copies it).
    virtual void PostPayload(Window to, unsigned id, std::shared_ptr<void> payload, intptr_t lparam) = 0;
};

// The panels, as the session core sees them; a null member is a panel not made yet.
struct Panels {
    IMessageLog* message_log = nullptr;
    IStatusBar* status_bar = nullptr;
    IChatInput* chat_input = nullptr;
    IVideoRegistry* video = nullptr;
    IMediaPanel* media = nullptr;
    ISound* sound = nullptr;
    IDeviceDialogs* dialogs = nullptr;
};
