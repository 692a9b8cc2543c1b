// The room session controller (see session_controller.h).
#include "session/session_controller.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "components/log.h"
#include "config/logging.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/thread_rule.h"
#include "session/intents.h"
#include "session/user_record.h"
#include "wire/packet_types.h"

namespace {

// printf-style formatting into a std::string.
template <typename... Args> std::string format(const char* fmt, Args... args) {
    int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string s(size_t(n > 0 ? n : 0) + 1, '\0');
    std::snprintf(s.data(), s.size(), fmt, args...);
    s.resize(size_t(n > 0 ? n : 0));
    return s;
}

} // namespace

const char* login_failure_reason(uint32_t result) {
    switch (result) {
    case 0:
        return session_text::kResultOk;
    case 1:
        return session_text::kResultNoUser;
    case 2:
        return session_text::kResultBadPassword;
    case 3:
        return session_text::kResultNoRoom;
    case 4:
        return session_text::kResultRefused;
    case 5:
        return session_text::kResultLoggedIn;
    default:
        return "";
    }
}

SessionController::SessionController(Session& session, ServiceLink& link, IMessagePoster& poster,
                                     ILinkHost& host, std::string install_folder)
    : session_(session), link_(link), poster_(poster), host_(host),
      install_folder_(std::move(install_folder)) {}

void SessionController::Notice(const std::string& gbk) {
    if (panels().message_log)
        panels().message_log->AddNoticeLine(gbk);
}
void SessionController::NoticeUtf8(const char* utf8) {
    Notice(utf8_to_gbk(utf8));
}
void SessionController::Debug(const std::string& gbk) {
    if (panels().message_log)
        panels().message_log->AddDebugLine(gbk);
}

void SessionController::Malformed(uint16_t type, size_t length) {
    LOG_MAIN("dropped malformed packet: type %u, %zu bytes\n", unsigned(type), length);
}

bool SessionController::SelfMay(uint32_t right) {
    return session_.SelfHasRights(right);
}

void SessionController::ChangeUserCount(int delta) {
    if (!panels().status_bar)
        return;
    panels().status_bar->SetUserCount(panels().status_bar->UserCount() + delta);
    panels().status_bar->ShowUserCount();
}

// ---- inbound packets ----

void SessionController::Dispatch(uint16_t type, const uint8_t* data, size_t length) {
    ASSERT_UI_THREAD();
    switch (type) {
    case pkt::kUserEntered:
        return Handle<pkt::kUserEntered>(data, length, &SessionController::UserEntered);
    case pkt::kUserPresent:
        return Handle<pkt::kUserPresent>(data, length, &SessionController::UserPresent);
    case pkt::kUserLeft:
        return Handle<pkt::kUserLeft>(data, length, &SessionController::RemoveUser);
    case pkt::kSystemText:
        return Handle<pkt::kSystemText>(data, length, &SessionController::SystemText);
    case pkt::kCameraState:
        return Handle<pkt::kCameraState>(data, length, &SessionController::CameraState);
    case pkt::kSpeakRequest:
        return Handle<pkt::kSpeakRequest>(data, length, &SessionController::HandRaised);
    case pkt::kHandLowered:
        return Handle<pkt::kHandLowered>(data, length, &SessionController::HandLowered);
    case pkt::kIgnored23:
        return Ignored23(data, length);
    case pkt::kMicrophoneState:
        return Handle<pkt::kMicrophoneState>(data, length, &SessionController::MicrophoneState);
    case pkt::kVideoWanted:
        return Handle<pkt::kVideoWanted>(data, length, &SessionController::VideoWanted);
    case pkt::kRightsChange:
        return Handle<pkt::kRightsChange>(data, length, &SessionController::RightsChange);
    case pkt::kMediaStart:
        return poster_.Post(Window::MainDialog, msg::kMediaEvent, msg::kMediaStartParam, 0);
    case pkt::kLoginResult:
        return Handle<pkt::kLoginResult>(data, length, &SessionController::LoginResult);
    case pkt::kChatMessage:
        if (length < proto::ChatLine::kHeader)
            return Malformed(type, length);
        if (panels().message_log)
            if (auto line = intents::ReadChatLine(data, length))
                panels().message_log->OnChatLine(*line);
        return;
    case pkt::kLogoutResult:
        return Handle<pkt::kLogoutResult>(data, length, &SessionController::LogoutResult);
    default:
        return; // unknown types are dropped
    }
}

void SessionController::OnVideoPacket(const uint8_t* data, size_t length) {
    if (length < proto::VideoFrame::kHeader)
        Malformed(pkt::kVideoFrame, length);
    else if (panels().video)
        panels().video->OnRecvVideo(data, length);
}

void SessionController::UserEntered(const proto::UserBlock& block) {
    AddUser(block, true);
}

void SessionController::UserPresent(const proto::UserBlock& block) {
    AddUser(block, false);
}

void SessionController::AddUser(const proto::UserBlock& block, bool entered) {
    // A user announced again (a takeover of the seat) keeps one record and is not counted twice.
    const bool known = roster().FindById(block.user_id) != nullptr;
    const UserRecord& record = roster().Add(block);
    if (known)
        return;
    const std::string nickname = record.block.nickname;
    const bool host = (record.block.rights & pkt::kRightHost) != 0;
    if (panels().chat_input)
        panels().chat_input->AddRecipient(record.block.user_id, nickname);
    if (entered)
        Notice(roster().DisplayName(record.block.user_id) + utf8_to_gbk(session_text::kEntered));
    if (host && panels().status_bar)
        panels().status_bar->ShowHost(nickname);
    ChangeUserCount(+1);
    if (entered && panels().sound && !(panels().status_bar && panels().status_bar->IsOutputMuted()))
        panels().sound->PlayAsync(path_join(path_join(install_folder_, "sound"), "newuser.wav"));
}

void SessionController::RemoveUser(const proto::UserLeft& left) {
    UserRecord* record = roster().FindById(left.user_id);
    if (!record || record == roster().Self())
        return; // nobody we count
    // The chat input finds the nickname through the roster, so it goes first.
    if (panels().chat_input)
        panels().chat_input->OnUserLeft(left.user_id);
    roster().Remove(left.user_id);
    ChangeUserCount(-1);
    Debug(format(utf8_to_gbk("%u 已离开,%s").c_str(), left.user_id, left.ended_by == 1 ? "Server" : "Peer"));
    if (panels().video)
        panels().video->ReleaseWindow(left.user_id, session_.identity().room_id);
}

void SessionController::SystemText(const proto::SystemText& text) {
    if (ServiceFailureText(text.text))
        return;
    if (panels().message_log && panels().message_log->DetailOn())
        panels().message_log->AddSystemText(text.text);
}

void SessionController::CameraState(const proto::CameraState& state) {
    if (!roster().FindById(state.user_id))
        return;
    roster().SetStream(state.user_id, state.stream);
    if (state.stream.fourcc == 0 && panels().video)
        panels().video->ReleaseWindow(state.user_id, state.room_id);
}

void SessionController::HandRaised(const proto::SpeakRequest& request) {
    UserRecord* r = roster().FindById(request.user_id);
    if (!r || r == roster().Self())
        return;
    const bool already = r->block.state & pkt::kStateHand;
    roster().SetState(request.user_id, pkt::kStateHand, true);
    if (already)
        return; // asked again while waiting: the queue keeps its place, nobody is told twice
    Notice(format(utf8_to_gbk(session_text::kHandRaised).c_str(),
                  roster().DisplayName(r->block.user_id).c_str()));
    if (panels().sound && !(panels().status_bar && panels().status_bar->IsOutputMuted()))
        panels().sound->PlayAsync(path_join(path_join(install_folder_, "sound"), "hand.wav"));
}

void SessionController::HandLowered(const proto::UserRef& who) {
    UserRecord* r = roster().FindById(who.user_id);
    if (!r || !(r->block.state & pkt::kStateHand))
        return;
    roster().SetState(who.user_id, pkt::kStateHand, false);
    Notice(format(utf8_to_gbk(session_text::kHandLowered).c_str(),
                  roster().DisplayName(r->block.user_id).c_str()));
}

void SessionController::Ignored23(const uint8_t* data, size_t length) {
    if (length >= 2)
        poster_.Post(Window::MainDialog, msg::kIgnored23, data[0], data[1]);
}

void SessionController::MicrophoneState(const proto::MicrophoneState& m) {
    if (m.device != 1)
        return;
    if (m.user_id != 0 && m.user_id == session_.identity().user_id) {
        // Our own service: the microphone is open now, or it could not be opened (its reason came before).
        if (m.off == 0) {
            if (session_.microphone_on() && microphone_opening_)
                NoticeUtf8(session_text::kMicOn);
            microphone_opening_ = false;
        } else if (session_.microphone_on()) {
            microphone_opening_ = false;
            session_.set_microphone_on(false);
            if (panels().status_bar)
                panels().status_bar->ShowMicrophoneState(false);
        }
        UpdateSelfMicrophone();
        return;
    }
    roster().SetMicrophone(m.user_id, m.off == 0);
}

bool SessionController::ServiceFailureText(const std::string& text) {
    // The service could not open the microphone: the person must know why, whatever the detail setting.
    static const std::string kCannotOpenMicrophone = utf8_to_gbk("无法打开麦克风");
    if (text.rfind(kCannotOpenMicrophone, 0) != 0)
        return false;
    Notice(text.substr(0, 300));
    return true;
}

void SessionController::VideoWanted(const proto::VideoWanted& w) {
    if (session_.camera_on() && panels().media)
        panels().media->SetVideoWanted(w.wanted == 1);
}

void SessionController::RightsChange(const proto::RightsChange& change) {
    if (!roster().FindById(change.user_id))
        return;
    if (change.operation != pkt::kRightsAdd && change.operation != pkt::kRightsRemove)
        return;
    roster().ChangeRights(change.user_id, change.rights, change.operation == pkt::kRightsAdd);
    if (change.user_id == session_.identity().user_id && (change.rights & pkt::kRightSpeak)) {
        const intptr_t lparam = intptr_t(change.operation) | (intptr_t(change.flags & 1) << 16);
        poster_.Post(Window::MainDialog, msg::kMediaEvent, msg::kOwnSpeakRightParam, lparam);
    }
}

void SessionController::LoginResult(const proto::LoginResult& r) {
    if (link_.OnLoginResult(r.result))
        return; // retried later; the status line says so
    if (r.result != 0) {
        poster_.Post(Window::MainDialog, msg::kLoginFailed, intptr_t(r.result), 0);
        return;
    }
    // Levels chosen for speakers hold across reconnects: the new service session hears them again.
    for (const auto& [user, percent] : speaker_volumes_)
        session_.Send(pkt::kSpeakerVolume, proto::SpeakerVolume{user, uint16_t(percent)}.encode());
    const uint32_t own = session_.identity().user_id;
    roster().AddSelf(r, own);
    ChangeUserCount(+1);
    if ((r.rights & pkt::kRightHost) && panels().status_bar)
        panels().status_bar->ShowHost(r.nickname);
    poster_.Post(Window::StatusBar, msg::kOutputVolume, intptr_t(r.output_volume), 0);
    in_addr addr{};
    addr.s_addr = r.ip;
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &addr, dotted, sizeof dotted);
    Debug(format(utf8_to_gbk("自己%s:%d,userid=%u").c_str(), dotted, int(r.port), own));
    NoticeUtf8(session_text::kLoginOk);
}

void SessionController::LogoutResult(const proto::LogoutResult& r) {
    if (r.result == 0)
        host_.PostMessageBox(session_text::kLogoutOk, link_text::kCaption);
}

// ---- messages to the main dialog ----

bool SessionController::OnMessage(unsigned id, intptr_t wparam, intptr_t lparam) {
    ASSERT_UI_THREAD();
    switch (id) {
    case msg::kLoginFailed:
        OnLoginFailed(uint32_t(wparam));
        return true;
    case msg::kStopWatching:
        OnStopWatching(uint32_t(wparam));
        return true;
    case msg::kMediaEvent:
        if (wparam == msg::kMediaStartParam)
            OnMediaStart();
        else if (wparam == msg::kOwnSpeakRightParam)
            OnOwnSpeakRight(lparam);
        return true;
    case msg::kIgnored23:
        return true; // type 23: nothing to do
    default:
        return false;
    }
}

void SessionController::OnLoginFailed(uint32_t result) {
    // No reconnect follows: closing from this side reports no lost link. The box opens from a message of
    // its own, so no packet is dispatched from inside its modal loop while a dispatch is under way.
    session_.CloseLink();
    if (result == login_result::kRemoved) {
        host_.PostMessageBox(session_text::kRemovedFromClass, link_text::kCaption);
        return;
    }
    host_.PostMessageBox(format(session_text::kLoginFailed, login_failure_reason(result)),
                         link_text::kCaption);
}

void SessionController::OnStopWatching(uint32_t user_id) {
    if (roster().FindById(user_id))
        StopWatching(user_id);
}

void SessionController::StopWatching(uint32_t user_id) {
    UserRecord* r = roster().FindById(user_id);
    if (!r)
        return;
    session_.Send(pkt::kWatchVideo, proto::WatchVideo{user_id, 0}.encode());
    if (panels().video)
        panels().video->ReleaseWindow(user_id, session_.identity().room_id);
    roster().SetState(user_id, pkt::kStateVideo, false);
}

void SessionController::WatchUser(uint32_t user_id) {
    intents::WatchUser(session_, user_id);
}

void SessionController::AllowSpeech(uint32_t user_id, bool allow) {
    intents::AllowSpeech(session_, user_id, allow);
}

void SessionController::SetOutputVolume(uint32_t volume) {
    intents::SetOutputVolume(session_, volume);
}

bool SessionController::SendChatLine(const OutgoingChatLine& line) {
    return intents::SendChatLine(session_, line);
}

void SessionController::AnnounceCamera(const proto::StreamDesc& stream) {
    intents::AnnounceCamera(session_, stream);
}

void SessionController::OnMediaStart() {
    if (panels().status_bar) {
        panels().status_bar->SelectMic();
        panels().status_bar->SetMute(3, true);
        if (SelfMay(pkt::kRightSpeak))
            panels().status_bar->ToggleMicrophone();
    }
    if (panels().media && panels().media->CameraPresent()) {
        if (roster().Self())
            roster().SetSelfCamera(false, true);
        ToggleCamera(session_.settings().camera_deviceid);
    } else {
        NoticeUtf8(session_text::kNoCameraDevice);
    }
}

void SessionController::OnOwnSpeakRight(intptr_t lparam) {
    if ((lparam >> 16) > 1)
        return;
    const bool microphone_on = session_.microphone_on();
    const int operation = int(lparam & 0xFFFF);
    const bool quiet = ((lparam >> 16) & 1) != 0;
    if (operation == pkt::kRightsAdd) {
        // A granted hand is down.
        if (OwnHandRaised())
            roster().SetState(roster().Self()->block.user_id, pkt::kStateHand, false);
        if (microphone_on)
            return;
        if (!quiet)
            NoticeUtf8(session_text::kSpeakGranted);
        if (panels().status_bar)
            panels().status_bar->ToggleMicrophone();
    } else if (operation == pkt::kRightsRemove) {
        if (microphone_on && panels().status_bar)
            panels().status_bar->ToggleMicrophone();
    }
}

// ---- local media ----

void SessionController::SendMicrophone(bool on, int device_id) {
    if (on)
        session_.Send(pkt::kMicrophoneOn, proto::MicrophoneOn{uint32_t(device_id)}.encode());
    else
        session_.Send(pkt::kMicrophoneOff, {});
}

void SessionController::UpdateSelfMicrophone() {
    if (UserRecord* self = roster().Self())
        roster().SetMicrophone(self->block.user_id, session_.microphone_on());
}

bool SessionController::ToggleMicrophone(int device_id) {
    if (!session_.connected())
        return false;
    if (session_.microphone_on()) {
        SendMicrophone(false, device_id);
        session_.set_microphone_on(false);
        NoticeUtf8(session_text::kMicOff);
    } else if (SelfMay(pkt::kRightSpeak)) {
        SendMicrophone(true, device_id);
        session_.set_microphone_on(true);
        // "On" is said once the service has opened it (or why it could not).
        microphone_opening_ = true;
    } else {
        NoticeUtf8(session_text::kNoSpeakRight);
    }
    UpdateSelfMicrophone();
    return true;
}

bool SessionController::ToggleCamera(int device_id) {
    if (!session_.connected())
        return false;
    if (device_id == -1)
        device_id = 0;
    const bool before = session_.camera_on();
    const bool present = panels().media && panels().media->CameraPresent();
    if (SelfMay(pkt::kRightCamera) || before) {
        if (!before) {
            if (!present)
                NoticeUtf8(session_text::kCameraNotFound);
            else if (panels().media->SwitchCamera(true, device_id)) {
                session_.set_camera_on(true);
                NoticeUtf8(session_text::kCameraOn);
            } else {
                NoticeUtf8(session_text::kCameraFailed);
            }
        } else if (panels().media && panels().media->SwitchCamera(false, device_id)) {
            session_.set_camera_on(false);
            NoticeUtf8(session_text::kCameraOff);
        }
    } else {
        NoticeUtf8(session_text::kCameraRefused);
    }
    roster().SetSelfCamera(session_.camera_on(), present);
    return before != session_.camera_on();
}

bool SessionController::RequestToSpeak() {
    const std::string host = session_text::kHostTitle;
    if (SelfMay(pkt::kRightSpeak)) {
        NoticeUtf8(session_text::kAlreadyMaySpeak);
        return false;
    }
    if (SelfMay(pkt::kRightHost)) {
        Notice(utf8_to_gbk(format(session_text::kHostNeedsNoRequest, host.c_str())));
        return false;
    }
    if (roster().HostOnline()) {
        session_.Send(pkt::kSpeakRequest, {});
        // The own hand shows on the own tile until it is granted or lowered.
        if (UserRecord* self = roster().Self())
            roster().SetState(self->block.user_id, pkt::kStateHand, true);
        Notice(utf8_to_gbk(format(session_text::kRequestSent, host.c_str())));
        return true;
    }
    Notice(utf8_to_gbk(format(session_text::kHostAway, host.c_str())));
    return false;
}

// ---- running a class ----

bool SessionController::OwnHandRaised() {
    const UserRecord* self = roster().Self();
    return self && (self->block.state & pkt::kStateHand);
}

bool SessionController::LowerOwnHand() {
    if (!OwnHandRaised())
        return false;
    session_.Send(pkt::kHandLowered, {});
    roster().SetState(roster().Self()->block.user_id, pkt::kStateHand, false);
    NoticeUtf8(session_text::kOwnHandLowered);
    return true;
}

bool SessionController::GrantSpeech(uint32_t user_id) {
    UserRecord* r = roster().FindById(user_id);
    if (!SelfMay(pkt::kRightHost) || !r || r == roster().Self())
        return false;
    session_.Send(pkt::kSpeakControl, proto::SpeakControl{user_id, 1}.encode());
    roster().SetState(user_id, pkt::kStateHand, false);
    Notice(format(utf8_to_gbk(session_text::kSpeechGrantedTo).c_str(),
                  roster().DisplayName(r->block.user_id).c_str()));
    return true;
}

int SessionController::WithdrawAllSpeech() {
    if (!SelfMay(pkt::kRightHost))
        return 0;
    std::vector<uint32_t> speakers;
    for (const auto& u : roster().users())
        if (u.get() != roster().Self() && (u->block.rights & pkt::kRightSpeak))
            speakers.push_back(u->block.user_id);
    for (uint32_t id : speakers) {
        session_.Send(pkt::kSpeakControl, proto::SpeakControl{id, 0}.encode());
        roster().SetMicrophone(id, false);
    }
    Notice(format(utf8_to_gbk(session_text::kAllSpeechWithdrawn).c_str(), int(speakers.size())));
    return int(speakers.size());
}

bool SessionController::RemoveFromClass(uint32_t user_id) {
    UserRecord* r = roster().FindById(user_id);
    if (!SelfMay(pkt::kRightHost) || !r || r == roster().Self())
        return false;
    if (!session_.Send(pkt::kRemoveUser, proto::UserRef{user_id}.encode()))
        return false;
    Notice(format(utf8_to_gbk(session_text::kRemovedUser).c_str(),
                  roster().DisplayName(r->block.user_id).c_str()));
    return true;
}

void SessionController::SetSpeakerVolume(uint32_t user_id, int percent) {
    percent = std::clamp(percent, 0, int(proto::SpeakerVolume::kMaxPercent));
    if (percent == 100)
        speaker_volumes_.erase(user_id);
    else
        speaker_volumes_[user_id] = percent;
    session_.Send(pkt::kSpeakerVolume, proto::SpeakerVolume{user_id, uint16_t(percent)}.encode());
}

int SessionController::SpeakerVolume(uint32_t user_id) {
    auto it = speaker_volumes_.find(user_id);
    return it == speaker_volumes_.end() ? 100 : it->second;
}

// ---- devices ----

void SessionController::OnAudioSetup() {
    if (!panels().dialogs)
        return;
    const int old_record = session_.settings().record_deviceid;
    const int old_play = session_.settings().play_deviceid;
    int record = old_record, play = old_play;
    if (!panels().dialogs->RunAudioSetup(record, play))
        return;
    if (record != old_record) {
        if (session_.microphone_on()) {
            ToggleMicrophone(old_record);
            ToggleMicrophone(record);
        }
        session_.SaveDeviceSetting(kRecordingDevice, record);
    }
    if (play != old_play)
        session_.SaveDeviceSetting(kPlaybackDevice, play);
}

void SessionController::OnVideoSetup() {
    if (!panels().dialogs)
        return;
    const int old_camera = session_.settings().camera_deviceid;
    int camera = old_camera;
    if (!panels().dialogs->RunVideoSetup(camera) || camera == old_camera)
        return;
    if (session_.camera_on()) {
        ToggleCamera(old_camera);
        ToggleCamera(camera);
    }
    session_.SaveDeviceSetting(kCameraDevice, camera);
}

namespace {

std::vector<std::string> names_of(const std::vector<AudioDevice>& devices) {
    std::vector<std::string> names;
    for (const AudioDevice& d : devices)
        names.push_back(d.name);
    return names;
}

int find_name(const std::vector<std::string>& names, const std::string& name) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return int(i);
    return -1;
}

} // namespace

void SessionController::OnDevicesChanged(const DeviceLists& now) {
    if (!devices_) {
        devices_ = now;
        return;
    }
    const DeviceLists before = std::move(*devices_);
    devices_ = now;
    auto labels = [](const std::vector<AudioDevice>& d) {
        std::vector<std::string> l;
        for (const AudioDevice& x : d)
            l.push_back(x.description.empty() ? x.name : x.description);
        return l;
    };
    const DeviceChange kinds[] = {
        {names_of(before.recording), names_of(now.recording), labels(before.recording), labels(now.recording),
         kRecordingDevice},
        {names_of(before.playback), names_of(now.playback), labels(before.playback), labels(now.playback),
         kPlaybackDevice},
        {before.cameras, now.cameras, before.cameras, now.cameras, kCameraDevice},
    };
    for (const DeviceChange& k : kinds) {
        SayDeviceChanges(k);
        FollowDevice(k, !now.cameras.empty());
    }
}

void SessionController::SayDeviceChanges(const DeviceChange& k) {
    for (size_t i = 0; i < k.new_names.size(); ++i)
        if (find_name(k.old_names, k.new_names[i]) < 0)
            Notice(format(utf8_to_gbk(session_text::kDeviceAdded).c_str(),
                          utf8_to_gbk(k.new_labels[i]).c_str()));
    for (size_t i = 0; i < k.old_names.size(); ++i)
        if (find_name(k.new_names, k.old_names[i]) < 0)
            Notice(format(utf8_to_gbk(session_text::kDeviceRemoved).c_str(),
                          utf8_to_gbk(k.old_labels[i]).c_str()));
}

void SessionController::FollowDevice(const DeviceChange& k, bool cameras_left) {
    const ClientSettings& s = session_.settings();
    const int id = k.setting == kRecordingDevice  ? s.record_deviceid
                   : k.setting == kPlaybackDevice ? s.play_deviceid
                                                  : s.camera_deviceid;
    if (id < 0 || id >= int(k.old_names.size()))
        return; // the default device (or one never seen): nothing to follow
    const int moved = find_name(k.new_names, k.old_names[size_t(id)]);
    if (moved == id)
        return;
    if (moved >= 0) {
        // Still there, at another place in the list: the setting follows the device.
        session_.SaveDeviceSetting(k.setting, moved);
        return;
    }
    // The device in use went away: the default one takes over, now.
    switch (k.setting) {
    case kRecordingDevice:
        if (session_.microphone_on()) {
            ToggleMicrophone(id);
            session_.SaveDeviceSetting(kRecordingDevice, -1);
            ToggleMicrophone(-1);
        } else {
            session_.SaveDeviceSetting(kRecordingDevice, -1);
        }
        NoticeUtf8(session_text::kRecordingFellBack);
        break;
    case kPlaybackDevice:
        session_.SaveDeviceSetting(kPlaybackDevice, -1);
        NoticeUtf8(session_text::kPlaybackFellBack);
        break;
    case kCameraDevice: {
        const bool was_on = session_.camera_on();
        if (was_on)
            ToggleCamera(id);
        session_.SaveDeviceSetting(kCameraDevice, -1);
        NoticeUtf8(session_text::kCameraFellBack);
        if (was_on && cameras_left)
            ToggleCamera(-1);
        break;
    }
    }
}

void SessionController::StartupAudioHint() {
    AudioHint(panels().media && panels().media->ProbeEchoCancellation());
}

void SessionController::AudioHint(bool problem) {
    if (problem)
        NoticeUtf8(session_text::kAudioHint);
}
