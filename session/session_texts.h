// The session layer's own texts, in one place (UTF-8; notices reach the message log as GBK).
#pragma once

#include "platform/ui_text.h"

// The room session controller.
namespace session_text {
inline const char* kHostTitle = ui_text::add(&kHostTitle, UI_TEXT("quorin", "发起人"));
inline const char* kEntered = ui_text::add(&kEntered, UI_TEXT("quorin", "已进入房间"));
inline const char* kLoginOk = ui_text::add(&kLoginOk, UI_TEXT("quorin", "登录成功！"));
inline const char* kLoginFailed = ui_text::add(&kLoginFailed, UI_TEXT("quorin", "登录失败: %s"));
inline const char* kLogoutOk = ui_text::add(&kLogoutOk, UI_TEXT("quorin", "登出成功"));
inline const char* kNoCameraDevice = ui_text::add(&kNoCameraDevice, UI_TEXT("quorin", "未检测到摄像头设备"));
inline const char* kSpeakGranted = ui_text::add(&kSpeakGranted, UI_TEXT("quorin", "申请发言审批通过"));
inline const char* kMicOff = ui_text::add(&kMicOff, UI_TEXT("quorin", "本地麦克风已关闭"));
inline const char* kMicOn = ui_text::add(&kMicOn, UI_TEXT("quorin", "本地麦克风已开启"));
inline const char* kNoSpeakRight = ui_text::add(&kNoSpeakRight, UI_TEXT("quorin", "你没有发言的权限"));
inline const char* kCameraNotFound =
    ui_text::add(&kCameraNotFound, UI_TEXT("quorin", "没有找到摄像头,请确认是否与电脑正常连接!"));
inline const char* kCameraOn = ui_text::add(&kCameraOn, UI_TEXT("quorin", "本地摄像头已开启"));
inline const char* kCameraFailed = ui_text::add(&kCameraFailed, UI_TEXT("quorin", "无法开启本地摄像头"));
inline const char* kCameraOff = ui_text::add(&kCameraOff, UI_TEXT("quorin", "本地摄像头已关闭"));
inline const char* kCameraRefused = ui_text::add(&kCameraRefused, UI_TEXT("quorin", "操作摄像头未被允许"));
inline const char* kAlreadyMaySpeak =
    ui_text::add(&kAlreadyMaySpeak, UI_TEXT("quorin", "你已经拥有发言的权利，不需要申请！"));
inline const char* kHostNeedsNoRequest =
    ui_text::add(&kHostNeedsNoRequest, UI_TEXT("quorin", "%s已经有权限，不需要申请！"));
inline const char* kRequestSent = ui_text::add(&kRequestSent, UI_TEXT("quorin", "已向%s申请，等待审批！"));
inline const char* kHostAway = ui_text::add(&kHostAway, UI_TEXT("quorin", "%s不在线，无法完成申请！"));
inline const char* kAudioHint =
    ui_text::add(&kAudioHint, UI_TEXT("quorin", "为了音质清晰，请关闭其他音频程序后再进入系统！"));
// Running a class, the keyboard, a screen reader, devices (added).
inline const char* kDeviceAdded = ui_text::add(&kDeviceAdded, UI_TEXT("quorin", "发现新设备：%s"));
inline const char* kDeviceRemoved = ui_text::add(&kDeviceRemoved, UI_TEXT("quorin", "设备已拔出：%s"));
inline const char* kRecordingFellBack =
    ui_text::add(&kRecordingFellBack, UI_TEXT("quorin", "正在使用的录音设备已拔出，已改用默认设备"));
inline const char* kPlaybackFellBack =
    ui_text::add(&kPlaybackFellBack, UI_TEXT("quorin", "正在使用的播放设备已拔出，已改用默认设备"));
inline const char* kCameraFellBack =
    ui_text::add(&kCameraFellBack, UI_TEXT("quorin", "正在使用的摄像头已拔出，已改用默认摄像头"));
inline const char* kResultOk = ui_text::add(&kResultOk, UI_TEXT("quorin", "成功"));
inline const char* kResultNoUser = ui_text::add(&kResultNoUser, UI_TEXT("quorin", "用户不存在"));
inline const char* kResultBadPassword = ui_text::add(&kResultBadPassword, UI_TEXT("quorin", "密码错误"));
inline const char* kResultNoRoom = ui_text::add(&kResultNoRoom, UI_TEXT("quorin", "房间不存在"));
inline const char* kResultRefused = ui_text::add(&kResultRefused, UI_TEXT("quorin", "拒绝访问(没有权限)"));
inline const char* kResultLoggedIn = ui_text::add(&kResultLoggedIn, UI_TEXT("quorin", "用户已登录"));
inline const char* kHandRaised = ui_text::add(&kHandRaised, UI_TEXT("quorin", "%s举手申请发言"));
inline const char* kHandLowered = ui_text::add(&kHandLowered, UI_TEXT("quorin", "%s已放下手"));
inline const char* kOwnHandLowered = ui_text::add(&kOwnHandLowered, UI_TEXT("quorin", "你已放下手"));
inline const char* kSpeechGrantedTo = ui_text::add(&kSpeechGrantedTo, UI_TEXT("quorin", "已允许%s发言"));
inline const char* kAllSpeechWithdrawn =
    ui_text::add(&kAllSpeechWithdrawn, UI_TEXT("quorin", "已收回%d人的发言权"));
inline const char* kRemovedUser = ui_text::add(&kRemovedUser, UI_TEXT("quorin", "已将%s移出课堂"));
inline const char* kRemovedFromClass =
    ui_text::add(&kRemovedFromClass, UI_TEXT("quorin", "你已被发起人移出课堂"));
inline const char* kNoCamera = ui_text::add(&kNoCamera, UI_TEXT("quorin", "%s没有摄像头"));
} // namespace session_text

// The service link; the status line while the link is down.
namespace link_text {
inline const char* kServiceStartFailed =
    ui_text::add(&kServiceStartFailed, UI_TEXT("quorin", "程序加载失败，请重新执行安装程序！"));
constexpr const char* kInitNetFailed = "init net failed!";
inline const char* kCannotConnect =
    ui_text::add(&kCannotConnect, UI_TEXT("quorin", "无法连接到服务程序，可能连接已被占用。"));
inline const char* kLinkLost =
    ui_text::add(&kLinkLost, UI_TEXT("quorin", "与服务端断开连接，尝试重新连接..."));
inline const char* kCaption = ui_text::add(&kCaption, UI_TEXT("quorin", "提示"));
// Status line while the link is down.
inline const char* kReconnecting = ui_text::add(&kReconnecting, UI_TEXT("quorin", "正在重新连接..."));
inline const char* kRetryIn =
    ui_text::add(&kRetryIn, UI_TEXT("quorin", "连接已断开，%d秒后重新连接（第%d次）"));
inline const char* kRoomUnreachable =
    ui_text::add(&kRoomUnreachable, UI_TEXT("quorin", "无法连接到课堂服务器，%d秒后重试"));
inline const char* kLoggingIn = ui_text::add(&kLoggingIn, UI_TEXT("quorin", "已连接，正在登录..."));
} // namespace link_text
