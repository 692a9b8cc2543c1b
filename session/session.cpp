// The client's session (see session.h).
#include "session/session.h"

#include "components/log.h"
#include "config/logging.h"
#include "platform/text.h"
#include "session/user_record.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

void Session::set_settings(const ClientSettings& s, const std::string& settings_file) {
    settings_ = s;
    settings_file_ = settings_file;
}

void Session::Notice(const char* utf8) {
    if (panels_.message_log)
        panels_.message_log->AddNoticeLine(utf8_to_gbk(utf8));
}

void Session::LinkState(const std::string& utf8) {
    if (panels_.status_bar)
        panels_.status_bar->ShowLinkState(utf8_to_gbk(utf8));
}

void Session::EmptyRoom() {
    roster_.Clear();
    if (panels_.status_bar) {
        // The room is announced anew after the login, so its count starts again.
        panels_.status_bar->SetUserCount(0);
        panels_.status_bar->ShowUserCount();
    }
    if (panels_.chat_input)
        panels_.chat_input->ResetRecipients();
    if (panels_.video)
        panels_.video->ReleaseAll();
    microphone_on_ = false;
    // The room forgot the camera with the link, and whoever watched it: the camera stops here, and the media
    // start of the next login switches it on again, as it does the microphone (a camera left on would be
    // switched off by that start instead).
    if (camera_on_) {
        if (panels_.media)
            panels_.media->SwitchCamera(false, settings_.camera_deviceid);
        camera_on_ = false;
    }
}

bool Session::SendLogin(bool reconnect, uint32_t window) {
    auto key = proto::decode_key_id(identity_.key_id);
    if (!key)
        return false;
    proto::Login login;
    login.flags = reconnect ? proto::Login::kReconnectFlag : 0;
    login.app_type = uint32_t(identity_.app_type);
    login.user_id = identity_.user_id;
    login.room_id = identity_.room_id;
    login.key = *key;
    login.timestamp = identity_.timestamp;
    login.window = window;
    // The key is a credential: it never goes to the log.
    LOG_MAIN("send login cmd. %u,%u,%llu\n", identity_.user_id, identity_.room_id,
             static_cast<unsigned long long>(identity_.timestamp));
    return Send(pkt::kLogin, login.encode());
}

bool Session::Send(uint16_t type, const proto::Bytes& payload) {
    return transport_.send(type, payload.data(), payload.size());
}

void Session::SaveDeviceSetting(int device, int id) {
    save_device_setting(settings_, settings_file_, device, id);
    if (device == kRecordingDevice && panels_.status_bar)
        panels_.status_bar->SetRecordingDevice(id);
    if (device == kPlaybackDevice && panels_.status_bar)
        panels_.status_bar->SetPlaybackDevice(id);
}

bool Session::SelfHasRights(uint32_t mask) {
    UserRecord* self = roster_.Self();
    return self && (self->block.rights & mask) != 0;
}

void Session::DeviceSetting(DeviceSettingRequest* r) {
    if (!r || r->device < 0 || r->device > 2)
        return;
    if (r->operation == 1) {
        r->value = r->device == kRecordingDevice  ? settings_.record_deviceid
                   : r->device == kPlaybackDevice ? settings_.play_deviceid
                                                  : settings_.camera_deviceid;
    } else {
        SaveDeviceSetting(r->device, r->value);
    }
}

bool Session::VideoWindow(const VideoWindowRequest* r) {
    if (!r || !panels_.video)
        return false;
    if (r->operation == 0)
        return r->block && panels_.video->AssignWindow(r->user_id, identity_.room_id, *r->block);
    if (r->operation == 1)
        return panels_.video->ReleaseWindow(r->user_id, identity_.room_id);
    return false;
}

int Session::request(int type, void* data, int) {
    switch (type) {
    case kReqConnected:
        return transport_.connected() ? 1 : 0;
    case kReqToggleMicrophone:
        return actions_ &&
               actions_->ToggleMicrophone(data ? *static_cast<int*>(data) : settings_.record_deviceid);
    case kReqToggleCamera:
        return actions_ &&
               actions_->ToggleCamera(data ? *static_cast<int*>(data) : settings_.camera_deviceid);
    case kReqNoticeLine:
        if (data && panels_.message_log)
            panels_.message_log->AddNoticeLine(static_cast<const char*>(data));
        return 1;
    case kReqMicrophoneOn:
        return microphone_on_ ? 1 : 0;
    case kReqCameraOn:
        return camera_on_ ? 1 : 0;
    case kReqDeviceSetting:
        DeviceSetting(static_cast<DeviceSettingRequest*>(data));
        return 1;
    case kReqFindUser: {
        auto* r = static_cast<FindUserRequest*>(data);
        if (r)
            r->result = roster_.FindById(r->user_id);
        return 1;
    }
    case kReqFindUserByNickname: {
        auto* r = static_cast<FindUserByNicknameRequest*>(data);
        if (r)
            r->result = r->nickname ? roster_.FindByName(r->nickname) : nullptr;
        return 1;
    }
    case kReqDisplayName: {
        auto* r = static_cast<DisplayNameRequest*>(data);
        if (!r || !r->name)
            return 0;
        *r->name = roster_.DisplayName(r->user_id);
        return r->name->empty() ? 0 : 1;
    }
    case kReqOutputMuted:
        return panels_.status_bar && panels_.status_bar->IsOutputMuted() ? 1 : 0;
    case kReqIsHost:
        return SelfHasRights(pkt::kRightHost) ? 1 : 0;
    case kReqSpeakRequest:
        return actions_ && actions_->RequestToSpeak() ? 1 : 0;
    case kReqVideoWindow:
        return VideoWindow(static_cast<VideoWindowRequest*>(data)) ? 1 : 0;
    case kReqHasRights:
        return data && SelfHasRights(*static_cast<const uint32_t*>(data)) ? 1 : 0;
    case kReqChatLine:
        if (data && panels_.message_log)
            panels_.message_log->AppendChatLine(static_cast<const ChatLogEntry*>(data));
        return 1;
    case kReqFileNotice:
        if (data && panels_.message_log) {
            const auto* n = static_cast<const FileNoticeRequest*>(data);
            if (n->text && n->path)
                panels_.message_log->AddFileNoticeLine(n->text, n->path);
        }
        return 1;
    default:
        return 1;
    }
}
