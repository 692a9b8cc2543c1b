// Typed calls over the request table of call_back::request (see session/call_back.h): each request goes with
// the one argument type it reads, so a wrong struct does not compile. The numbers, structs and answers are
// the table's; these only spell them out. Called on the UI thread, like the table.
#pragma once

#include <cstdint>
#include <string>

#include "session/call_back.h"
#include "session/user_record.h"

namespace req {

inline bool Connected(call_back& cb) {
    return cb.request(kReqConnected, nullptr, 0) != 0;
}
// Requests 7 and 8 with the configured device.
inline bool ToggleMicrophone(call_back& cb) {
    return cb.request(kReqToggleMicrophone, nullptr, 0) != 0;
}
inline bool ToggleCamera(call_back& cb) {
    return cb.request(kReqToggleCamera, nullptr, 0) != 0;
}
// A notice line in the message log (GBK).
inline void NoticeLine(call_back& cb, const std::string& gbk) {
    cb.request(kReqNoticeLine, const_cast<char*>(gbk.c_str()), int(gbk.size()));
}
// A notice that ends with a link to a file the client wrote itself (GBK text, UTF-8 path).
inline void FileNotice(call_back& cb, const std::string& gbk, const std::string& utf8_path) {
    FileNoticeRequest r{gbk.c_str(), utf8_path.c_str()};
    cb.request(kReqFileNotice, &r, sizeof r);
}
inline bool MicrophoneOn(call_back& cb) {
    return cb.request(kReqMicrophoneOn, nullptr, 0) != 0;
}
inline bool CameraOn(call_back& cb) {
    return cb.request(kReqCameraOn, nullptr, 0) != 0;
}
// The stored id of a device (kRecordingDevice, kPlaybackDevice, kCameraDevice); `fallback` when the table
// does not answer.
inline int DeviceSetting(call_back& cb, int32_t device, int32_t fallback = 0) {
    DeviceSettingRequest r{1, device, fallback};
    cb.request(kReqDeviceSetting, &r, sizeof r);
    return r.value;
}
inline UserRecord* FindUser(call_back& cb, uint32_t user_id) {
    FindUserRequest r{user_id, nullptr};
    cb.request(kReqFindUser, &r, sizeof r);
    return r.result;
}
// The name the client shows for a user: the nickname, with the user id while another user shares it. Falls
// back to the record's nickname where the request is not answered.
inline std::string DisplayName(call_back& cb, uint32_t user_id) {
    std::string name;
    DisplayNameRequest r{user_id, &name};
    if (cb.request(kReqDisplayName, &r, sizeof r) != 0 && !name.empty())
        return name;
    const UserRecord* user = FindUser(cb, user_id);
    return user ? user->block.nickname : std::string();
}
inline UserRecord* FindUserByNickname(call_back& cb, const std::string& gbk) {
    FindUserByNicknameRequest r{gbk.c_str(), nullptr};
    cb.request(kReqFindUserByNickname, &r, sizeof r);
    return r.result;
}
inline bool OutputMuted(call_back& cb) {
    return cb.request(kReqOutputMuted, nullptr, 0) != 0;
}
inline bool SpeakRequest(call_back& cb) {
    return cb.request(kReqSpeakRequest, nullptr, 0) != 0;
}
// Lends a video window to the user (request 20, operation 0).
inline bool OpenVideoWindow(call_back& cb, uint32_t user_id, const proto::UserBlock& block) {
    VideoWindowRequest r{0, user_id, &block};
    return cb.request(kReqVideoWindow, &r, sizeof r) != 0;
}
inline bool HasRights(call_back& cb, uint32_t rights) {
    return cb.request(kReqHasRights, &rights, sizeof rights) != 0;
}
// Shows the own chat line in the message log.
inline void ChatLine(call_back& cb, ChatLogEntry& entry) {
    cb.request(kReqChatLine, &entry, 0);
}

} // namespace req
