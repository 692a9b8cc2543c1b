// The room session controller: turns each inbound packet into changes of the panels, owns the local
// microphone, camera and speak-right flows, and handles the private messages sent to the main dialog.
// Dispatch runs on the UI thread in packet order; only video frames are handled on the link thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "session/panels.h"
#include "session/roster.h"
#include "session/service_link.h"
#include "session/session.h"
#include "session/session_texts.h"

// The reason shown for a login result code (empty for codes without a name).
const char* login_failure_reason(uint32_t result);

class SessionController : public ISessionActions, public IClassActions {
public:
    // `link` decides about reconnecting after a login result; everything else is the session's.
    SessionController(Session& session, ServiceLink& link, IMessagePoster& poster, ILinkHost& host,
                      std::string install_folder);

    // One inbound packet other than video and link loss, on the UI thread.
    void Dispatch(uint16_t type, const uint8_t* data, size_t length);
    // A video frame, on the link thread.
    void OnVideoPacket(const uint8_t* data, size_t length);
    // A private message to the main dialog (1048 to 1051). False for ids it does not handle.
    bool OnMessage(unsigned id, intptr_t wparam, intptr_t lparam);

    // ISessionActions (requests 7, 8, 19 and the main window's buttons).
    bool ToggleMicrophone(int device_id) override;
    bool ToggleCamera(int device_id) override;
    bool RequestToSpeak() override;
    // Stops receiving a user's video: type 25 with 0, the window released, the video-open bit cleared.
    void StopWatching(uint32_t user_id) override;
    void WatchUser(uint32_t user_id) override;
    void AllowSpeech(uint32_t user_id, bool allow) override;
    void SetOutputVolume(uint32_t volume) override;
    bool SendChatLine(const OutgoingChatLine& line) override;
    void AnnounceCamera(const proto::StreamDesc& stream) override;

    // IClassActions
    bool OwnHandRaised() override;
    bool LowerOwnHand() override;
    bool GrantSpeech(uint32_t user_id) override;
    int WithdrawAllSpeech() override;
    bool RemoveFromClass(uint32_t user_id) override;
    void SetSpeakerVolume(uint32_t user_id, int percent) override;
    int SpeakerVolume(uint32_t user_id) override;

    // The main window's device buttons (1083 audio, 1084 video).
    void OnAudioSetup();
    void OnVideoSetup();
    // The machine's devices now (polled by the window): plugged in and out devices are said, and a device in
    // use that went away is replaced by the default one. The first call only learns the lists.
    void OnDevicesChanged(const DeviceLists& now);
    // Whether the first look at the devices has been taken (changes are said from then on).
    bool DevicesKnown() const { return devices_.has_value(); }
    // After the first placement of the window: probes the devices and says when they are a problem.
    void StartupAudioHint();
    // The same with the probe's answer, when the probe ran elsewhere (off the UI thread).
    void AudioHint(bool problem);

private:
    // Decodes a payload as the layout of its type and hands it to `handler`; a payload too short for it is
    // logged and dropped.
    template <uint16_t Type>
    void Handle(const uint8_t* data, size_t length,
                void (SessionController::*handler)(const typename proto::Layout<Type>::type&)) {
        if (auto decoded = proto::decode_as<Type>(data, length))
            (this->*handler)(*decoded);
        else
            Malformed(Type, length);
    }
    void UserEntered(const proto::UserBlock& block);
    void UserPresent(const proto::UserBlock& block);
    void AddUser(const proto::UserBlock& block, bool entered);
    void RemoveUser(const proto::UserLeft& left);
    void SystemText(const proto::SystemText& text);
    void CameraState(const proto::CameraState& state);
    void HandRaised(const proto::SpeakRequest& request);
    void HandLowered(const proto::UserRef& who);
    void MicrophoneState(const proto::MicrophoneState& m);
    void VideoWanted(const proto::VideoWanted& w);
    void RightsChange(const proto::RightsChange& change);
    void LoginResult(const proto::LoginResult& r);
    void LogoutResult(const proto::LogoutResult& r);
    void Ignored23(const uint8_t* data, size_t length);

    void OnLoginFailed(uint32_t result);
    void OnMediaStart();
    void OnOwnSpeakRight(intptr_t lparam);
    void OnStopWatching(uint32_t user_id);

    Roster& roster() { return session_.roster(); }
    const Panels& panels() const { return session_.panels(); }
    // Logs a packet too short for its layout; it is dropped.
    void Malformed(uint16_t type, size_t length);
    bool SelfMay(uint32_t right);
    void ChangeUserCount(int delta);
    void Notice(const std::string& gbk);
    // A text of the service that the person must see whatever the detail switch (the microphone's failure);
    // true when the text was one.
    bool ServiceFailureText(const std::string& text);
    void NoticeUtf8(const char* utf8);
    void Debug(const std::string& gbk);
    // One kind of device before and after a look: names (what identifies a device) and labels (what is said).
    struct DeviceChange {
        std::vector<std::string> old_names, new_names, old_labels, new_labels;
        DeviceKind setting;
    };
    // Says the devices that came and went.
    void SayDeviceChanges(const DeviceChange& change);
    // The setting follows the device in use to its new place; when it went away, the default one takes over
    // (the microphone and the camera are restarted on it; the camera only when there is one).
    void FollowDevice(const DeviceChange& change, bool cameras_left);
    void SendMicrophone(bool on, int device_id);
    void UpdateSelfMicrophone();

    Session& session_;
    ServiceLink& link_;
    IMessagePoster& poster_;
    ILinkHost& host_;
    std::string install_folder_;
    std::optional<DeviceLists> devices_; // as last seen
    // Levels set for remote speakers (percent), sent again after every login.
    std::map<uint32_t, int> speaker_volumes_;
    // The microphone was switched on and the service has not yet said that it is open.
    bool microphone_opening_ = false;
};
