// Texts of the roster and room-status panels (UTF-8).
#pragma once

namespace roster_text {
constexpr const char* kSelfMark = "（我）";
constexpr const char* kHostMark = " [发起人]";
constexpr const char* kMicrophoneMark = " [麦]";
constexpr const char* kCameraMark = " [摄]";
constexpr const char* kHandMark = " [举手]";
constexpr const char* kMicrophoneButton = "麦克风";
constexpr const char* kStatusLine = "房间人数：%1人    发起人：%2    音量：%3";
constexpr const char* kAudioSetup = "音频设置";
constexpr const char* kRecordingDevice = "录音设备";
constexpr const char* kPlaybackDevice = "播放设备";
constexpr const char* kVideoSetup = "视频设置";
constexpr const char* kCamera = "摄像头";
// The user list's prompts.
constexpr const char* kCaption = "提示";
constexpr const char* kApproval = "审批";
constexpr const char* kAskWithdraw = "你确定取消%1的发言权利？";
constexpr const char* kAskGrant = "你确定让%1发言？";
constexpr const char* kAskApprove = "%1申请发言，是否允许？";
// The status bar.
constexpr const char* kCourseNone = "课程名称：（无）";
constexpr const char* kHost = "发起人：%1";
constexpr const char* kUserCount = "房间人数：%1人";
constexpr const char* kMicMuted = "麦克风已静音";
constexpr const char* kOutputMuted = "输出已静音";
constexpr const char* kMute = "静音";
constexpr const char* kOutputOff = "声音输出禁止";
constexpr const char* kOutputOn = "声音输出开启";
constexpr const char* kCardSilent = "提示：声卡处于无声状态";
// The audio setup dialog.
constexpr const char* kDefaultDevice = "默认设备";
constexpr const char* kAudioDevices = "音频设备";
constexpr const char* kAdjustInput = "调节(&I)";
constexpr const char* kAdjustOutput = "调节(&O)";
constexpr const char* kOk = "确定";
constexpr const char* kCancel = "取消";
constexpr const char* kNoVolumeControl = "没有找到音量控制程序（pavucontrol 或 alsamixer），请安装后再试。";
} // namespace roster_text
