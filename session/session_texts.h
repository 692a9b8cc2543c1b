// The session layer's own texts, in one place (UTF-8; notices reach the message log as GBK).
#pragma once

// The room session controller.
namespace session_text {
constexpr const char* kHostTitle = "发起人";
constexpr const char* kEntered = "已进入房间";
constexpr const char* kLoginOk = "登录成功！";
constexpr const char* kLoginFailed = "登录失败: %s";
constexpr const char* kLogoutOk = "登出成功";
constexpr const char* kNoCameraDevice = "未检测到摄像头设备";
constexpr const char* kSpeakGranted = "申请发言审批通过";
constexpr const char* kMicOff = "本地麦克风已关闭";
constexpr const char* kMicOn = "本地麦克风已开启";
constexpr const char* kNoSpeakRight = "你没有发言的权限";
constexpr const char* kCameraNotFound = "没有找到摄像头,请确认是否与电脑正常连接!";
constexpr const char* kCameraOn = "本地摄像头已开启";
constexpr const char* kCameraFailed = "无法开启本地摄像头";
constexpr const char* kCameraOff = "本地摄像头已关闭";
constexpr const char* kCameraRefused = "操作摄像头未被允许";
constexpr const char* kAlreadyMaySpeak = "你已经拥有发言的权利，不需要申请！";
constexpr const char* kHostNeedsNoRequest = "%s已经有权限，不需要申请！";
constexpr const char* kRequestSent = "已向%s申请，等待审批！";
constexpr const char* kHostAway = "%s不在线，无法完成申请！";
constexpr const char* kAudioHint = "为了音质清晰，请关闭其他音频程序后再进入系统！";
} // namespace session_text

// The service link; the status line while the link is down.
namespace link_text {
constexpr const char* kServiceStartFailed = "程序加载失败，请重新执行安装程序！";
constexpr const char* kInitNetFailed = "init net failed!";
constexpr const char* kCannotConnect = "无法连接到服务程序，可能连接已被占用。";
constexpr const char* kLinkLost = "与服务端断开连接，尝试重新连接...";
constexpr const char* kCaption = "提示";
// Status line while the link is down.
constexpr const char* kReconnecting = "正在重新连接...";
constexpr const char* kRetryIn = "连接已断开，%d秒后重新连接（第%d次）";
constexpr const char* kRoomUnreachable = "无法连接到课堂服务器，%d秒后重试";
constexpr const char* kLoggingIn = "已连接，正在登录...";
} // namespace link_text
