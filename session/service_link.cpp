// The link to the local service (see service_link.h).
#include "service_link.h"

#include <arpa/inet.h>

#include <cstring>

#include "log.h"
#include "logging.h"
#include "packet_types.h"
#include "protocol.h"
#include "text.h"
#include "user_record.h"

ServiceLink::ServiceLink(tcpclient& link, ServiceProcess& service, ILinkHost& host)
    : link_(link), service_(service), host_(host) {}

void ServiceLink::set_settings(const ClientSettings& s, const std::string& settings_file) {
    settings_ = s;
    settings_file_ = settings_file;
}

void ServiceLink::Notice(const char* utf8) {
    if (panels_.message_log)
        panels_.message_log->AddNoticeLine(utf8_to_gbk(utf8));
}

bool ServiceLink::SetUp(server_event_handler* handler) {
    if (!service_.ensure_running())
        host_.ShowMessageBox(link_text::kServiceStartFailed, "", true);
    link_.set_handler(handler);
    if (!link_.init()) {
        host_.PostMessageBox(link_text::kInitNetFailed, "");
        return false;
    }
    service_addr_ = htonl(INADDR_LOOPBACK);
    return true;
}

void ServiceLink::ConnectFirstTime() {
    if (identity_.user_id == 0)
        return;
    if (link_.changeip(service_addr_, uint16_t(settings_.port)))
        SendLogin(false);
    else
        host_.PostMessageBox(std::string(link_text::kCannotConnect) + "\n", link_text::kCaption);
}

void ServiceLink::Reconnect() {
    link_.close_socket();
    Notice(link_text::kLinkLost);
    service_.stop_service(4000);
    if (!service_.find_service() && !service_.start_service())
        Notice(link_text::kServiceStartFailed);
    if (panels_.user_list)
        panels_.user_list->ClearUsers();
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
    if (link_.changeip(service_addr_, uint16_t(settings_.port)))
        SendLogin(true);
    else
        Notice(link_text::kCannotConnect);
}

void ServiceLink::ShutDown() {
    link_.close();
    log_free();
    service_.stop_service(4000);
}

bool ServiceLink::SendLogin(bool reconnect) {
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
    login.window = host_.WindowHandle();
    const proto::Bytes payload = login.encode();
    void* p = nullptr;
    __SndBuf* buf = link_.get_send_buff(uint32_t(payload.size()), &p);
    if (!buf)
        return false;
    std::memcpy(p, payload.data(), payload.size());
    LOG_MAIN("send login cmd. %u,%u,%llu,%s\n", identity_.user_id, identity_.room_id,
             static_cast<unsigned long long>(identity_.timestamp), identity_.key_id.c_str());
    return link_.send_packet(buf, pkt::kLogin);
}

void ServiceLink::SaveDeviceSetting(int device, int id) {
    save_device_setting(settings_, settings_file_, device, id);
    if (device == kRecordingDevice && panels_.status_bar)
        panels_.status_bar->SetRecordingDevice(id);
}

bool ServiceLink::SelfHasRights(uint32_t mask) {
    UserRecord* self = panels_.user_list ? panels_.user_list->SelfUser() : nullptr;
    return self && (self->block.rights & mask) != 0;
}

int ServiceLink::request(int type, void* data, int) {
    switch (type) {
    case kReqConnected:
        return link_.connected() ? 1 : 0;
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
    case kReqDeviceSetting: {
        auto* r = static_cast<DeviceSettingRequest*>(data);
        if (!r || r->device < 0 || r->device > 2)
            return 1;
        if (r->operation == 1) {
            r->value = r->device == kRecordingDevice  ? settings_.record_deviceid
                       : r->device == kPlaybackDevice ? settings_.play_deviceid
                                                      : settings_.camera_deviceid;
        } else {
            SaveDeviceSetting(r->device, r->value);
        }
        return 1;
    }
    case kReqFindUser: {
        auto* r = static_cast<FindUserRequest*>(data);
        if (r)
            r->result = panels_.user_list ? panels_.user_list->FindUserById(r->user_id) : nullptr;
        return 1;
    }
    case kReqFindUserByNickname: {
        auto* r = static_cast<FindUserByNicknameRequest*>(data);
        if (r)
            r->result =
                panels_.user_list && r->nickname ? panels_.user_list->FindUserByName(r->nickname) : nullptr;
        return 1;
    }
    case kReqOutputMuted:
        return panels_.status_bar && panels_.status_bar->IsOutputMuted() ? 1 : 0;
    case kReqIsHost:
        return SelfHasRights(pkt::kRightHost) ? 1 : 0;
    case kReqSpeakRequest:
        return actions_ && actions_->RequestToSpeak() ? 1 : 0;
    case kReqVideoWindow: {
        auto* r = static_cast<VideoWindowRequest*>(data);
        if (!r || !panels_.video)
            return 0;
        if (r->operation == 0)
            return r->block && panels_.video->AssignWindow(r->user_id, identity_.room_id, *r->block) ? 1 : 0;
        if (r->operation == 1)
            return panels_.video->ReleaseWindow(r->user_id, identity_.room_id) ? 1 : 0;
        return 0;
    }
    case kReqHasRights:
        return data && SelfHasRights(*static_cast<const uint32_t*>(data)) ? 1 : 0;
    case kReqChatLine:
        if (data && panels_.message_log)
            panels_.message_log->AppendChatLine(static_cast<const ChatLogEntry*>(data));
        return 1;
    default:
        return 1;
    }
}
