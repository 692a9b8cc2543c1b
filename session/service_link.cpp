// The link to the local service (see service_link.h).
#include "session/service_link.h"

#include <arpa/inet.h>

#include <cstdio>
#include <utility>

#include "components/log.h"
#include "config/logging.h"
#include "platform/message_ids.h"
#include "platform/text.h"
#include "platform/thread_rule.h"
#include "session/user_record.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

ServiceLink::ServiceLink(ILinkTransport& link, ServiceProcess& service, ILinkHost& host)
    : link_(link), service_(service), host_(host) {}

ServiceLink::~ServiceLink() {
    reconnect_job_.Cancel();
}

void ServiceLink::set_settings(const ClientSettings& s, const std::string& settings_file) {
    settings_ = s;
    settings_file_ = settings_file;
    service_.set_port(s.port);
}

void ServiceLink::Notice(const char* utf8) {
    if (panels_.message_log)
        panels_.message_log->AddNoticeLine(utf8_to_gbk(utf8));
}

void ServiceLink::LinkState(const std::string& utf8) {
    if (panels_.status_bar)
        panels_.status_bar->ShowLinkState(utf8_to_gbk(utf8));
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
    // Off the UI thread like a reconnect: a service that was just started may take a moment to listen, and
    // the window shows meanwhile. The outcome comes back as kReconnectDone with the first-connect bit.
    const uint32_t addr = service_addr_;
    const uint16_t port = uint16_t(settings_.port);
    attempt_pending_ = true;
    reconnect_job_.Start(0, [this, addr, port] {
        const intptr_t outcome = kFirstConnectBit | (link_.changeip(addr, port) ? kConnectedBit : 0);
        host_.PostToSelf(msg::kReconnectDone, outcome);
    });
}

void ServiceLink::EmptyRoom() {
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

void ServiceLink::Reconnect() {
    ASSERT_UI_THREAD();
    if (ended_) {
        // The room closed this seat on purpose and the user was told why: the room empties, nothing retries.
        link_.close_socket();
        EmptyRoom();
        return;
    }
    if (attempt_pending_) {
        // The attempt under way reports, and its outcome decides; the loss is kept for that moment.
        loss_during_attempt_ = true;
        return;
    }
    link_.close_socket();
    Notice(link_text::kLinkLost);
    EmptyRoom();
    ScheduleReconnect(true, link_text::kRetryIn);
}

void ServiceLink::ScheduleReconnect(bool restart_service, const char* state_format) {
    ScheduleAttempt(backoff_, restart_service, state_format);
}

void ServiceLink::ScheduleAttempt(ReconnectBackoff& backoff, bool restart_service, const char* state_format) {
    const int delay_ms = backoff.NextDelayMs();
    if (delay_ms == 0) {
        LinkState(link_text::kReconnecting);
    } else {
        char text[160];
        std::snprintf(text, sizeof text, state_format, delay_ms / 1000, backoff.attempts());
        LinkState(text);
    }
    LOG_MAIN("reconnect attempt %d in %d ms\n", backoff.attempts(), delay_ms);
    const uint32_t addr = service_addr_;
    const uint16_t port = uint16_t(settings_.port);
    attempt_pending_ = true;
    reconnect_job_.Start(delay_ms, [this, restart_service, addr, port] {
        // Off the UI thread: waiting for the old service, starting a new one and connecting take seconds.
        intptr_t outcome = 0;
        if (restart_service) {
            service_.stop_service();
            if (!service_.find_service() && !service_.start_service())
                outcome |= kServiceStartFailedBit;
        }
        // Without a restart the link that is still up is kept, and only the login goes again.
        if ((!restart_service && link_.connected()) || link_.changeip(addr, port))
            outcome |= kConnectedBit;
        host_.PostToSelf(msg::kReconnectDone, outcome);
    });
}

void ServiceLink::OnReconnectDone(intptr_t outcome) {
    ASSERT_UI_THREAD();
    attempt_pending_ = false;
    // A loss reported while the attempt ran: the link only reports the connection in use, so when the
    // connection is not up now, that loss is this one's, and it is handled as any lost link.
    const bool lost = std::exchange(loss_during_attempt_, false);
    const bool up = (outcome & kConnectedBit) && link_.connected();
    if (outcome & kFirstConnectBit) {
        if (up)
            SendLogin(false);
        else if (lost)
            Reconnect();
        else
            host_.PostMessageBox(std::string(link_text::kCannotConnect) + "\n", link_text::kCaption);
        return;
    }
    if (outcome & kServiceStartFailedBit)
        Notice(link_text::kServiceStartFailed);
    if (up) {
        LinkState(link_text::kLoggingIn);
        SendLogin(true);
        return;
    }
    if (lost) {
        Reconnect();
        return;
    }
    Notice(link_text::kCannotConnect);
    ScheduleReconnect(true, link_text::kRetryIn);
}

bool ServiceLink::OnLoginResult(uint32_t result) {
    ASSERT_UI_THREAD();
    if (result == login_result::kOk) {
        backoff_.Reset();
        room_backoff_.Reset();
        LinkState("");
        return false;
    }
    if (result == login_result::kLoggedInElsewhere || result == login_result::kRemoved) {
        // The room closes the link right behind this result; that loss must not bring the user back.
        ended_ = true;
        return false;
    }
    if (result == login_result::kRoomUnreachable && identity_.user_id != 0) {
        // The service is fine; the room server behind it is not (yet). Try again later without a box, on the
        // same link: the service ends soon after its client leaves, so a closed link would lose it during
        // the longer waits and the next attempt would find no service at all.
        EmptyRoom();
        if (!attempt_pending_)
            ScheduleAttempt(room_backoff_, false, link_text::kRoomUnreachable);
        return true;
    }
    return false;
}

void ServiceLink::ShutDown() {
    reconnect_job_.Cancel();
    link_.close();
    log_free();
    service_.stop_service();
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
    // The key is a credential: it never goes to the log.
    LOG_MAIN("send login cmd. %u,%u,%llu\n", identity_.user_id, identity_.room_id,
             static_cast<unsigned long long>(identity_.timestamp));
    return Send(pkt::kLogin, login.encode());
}

bool ServiceLink::Send(uint16_t type, const proto::Bytes& payload) {
    return link_.send(type, payload.data(), payload.size());
}

void ServiceLink::SaveDeviceSetting(int device, int id) {
    save_device_setting(settings_, settings_file_, device, id);
    if (device == kRecordingDevice && panels_.status_bar)
        panels_.status_bar->SetRecordingDevice(id);
    if (device == kPlaybackDevice && panels_.status_bar)
        panels_.status_bar->SetPlaybackDevice(id);
}

bool ServiceLink::SelfHasRights(uint32_t mask) {
    UserRecord* self = roster_.Self();
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
            r->result = roster_.FindById(r->user_id);
        return 1;
    }
    case kReqFindUserByNickname: {
        auto* r = static_cast<FindUserByNicknameRequest*>(data);
        if (r)
            r->result = r->nickname ? roster_.FindByName(r->nickname) : nullptr;
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
