// Texts of the roster and room-status panels (UTF-8).
#pragma once

#include "platform/ui_text.h"

namespace roster_text {
inline const char* kSelfMark = ui_text::add(&kSelfMark, UI_TEXT("quorin", "（我）"));
inline const char* kHostMark = ui_text::add(&kHostMark, UI_TEXT("quorin", " [发起人]"));
inline const char* kMicrophoneMark = ui_text::add(&kMicrophoneMark, UI_TEXT("quorin", " [麦]"));
inline const char* kCameraMark = ui_text::add(&kCameraMark, UI_TEXT("quorin", " [摄]"));
inline const char* kHandMark = ui_text::add(&kHandMark, UI_TEXT("quorin", " [举手]"));
inline const char* kMicrophoneButton = ui_text::add(&kMicrophoneButton, UI_TEXT("quorin", "麦克风"));
inline const char* kStatusLine =
    ui_text::add(&kStatusLine, UI_TEXT("quorin", "房间人数：%1人    发起人：%2    音量：%3"));
inline const char* kAudioSetup = ui_text::add(&kAudioSetup, UI_TEXT("quorin", "音频设置"));
inline const char* kRecordingDevice = ui_text::add(&kRecordingDevice, UI_TEXT("quorin", "录音设备"));
inline const char* kPlaybackDevice = ui_text::add(&kPlaybackDevice, UI_TEXT("quorin", "播放设备"));
inline const char* kVideoSetup = ui_text::add(&kVideoSetup, UI_TEXT("quorin", "视频设置"));
inline const char* kCamera = ui_text::add(&kCamera, UI_TEXT("quorin", "摄像头"));
// The user list's prompts.
inline const char* kCaption = ui_text::add(&kCaption, UI_TEXT("quorin", "提示"));
inline const char* kApproval = ui_text::add(&kApproval, UI_TEXT("quorin", "审批"));
inline const char* kAskWithdraw = ui_text::add(&kAskWithdraw, UI_TEXT("quorin", "你确定取消%1的发言权利？"));
inline const char* kAskGrant = ui_text::add(&kAskGrant, UI_TEXT("quorin", "你确定让%1发言？"));
inline const char* kAskApprove = ui_text::add(&kAskApprove, UI_TEXT("quorin", "%1申请发言，是否允许？"));
// The status bar.
inline const char* kCourseNone = ui_text::add(&kCourseNone, UI_TEXT("quorin", "课程名称：（无）"));
inline const char* kHost = ui_text::add(&kHost, UI_TEXT("quorin", "发起人：%1"));
inline const char* kUserCount = ui_text::add(&kUserCount, UI_TEXT("quorin", "房间人数：%1人"));
inline const char* kMicMuted = ui_text::add(&kMicMuted, UI_TEXT("quorin", "麦克风已静音"));
inline const char* kOutputMuted = ui_text::add(&kOutputMuted, UI_TEXT("quorin", "输出已静音"));
inline const char* kMute = ui_text::add(&kMute, UI_TEXT("quorin", "静音"));
inline const char* kOutputOff = ui_text::add(&kOutputOff, UI_TEXT("quorin", "声音输出禁止"));
inline const char* kOutputOn = ui_text::add(&kOutputOn, UI_TEXT("quorin", "声音输出开启"));
inline const char* kCardSilent = ui_text::add(&kCardSilent, UI_TEXT("quorin", "提示：声卡处于无声状态"));
// The audio setup dialog.
inline const char* kDefaultDevice = ui_text::add(&kDefaultDevice, UI_TEXT("quorin", "默认设备"));
inline const char* kAudioDevices = ui_text::add(&kAudioDevices, UI_TEXT("quorin", "音频设备"));
inline const char* kAdjustInput = ui_text::add(&kAdjustInput, UI_TEXT("quorin", "调节(&I)"));
inline const char* kAdjustOutput = ui_text::add(&kAdjustOutput, UI_TEXT("quorin", "调节(&O)"));
inline const char* kOk = ui_text::add(&kOk, UI_TEXT("quorin", "确定"));
inline const char* kCancel = ui_text::add(&kCancel, UI_TEXT("quorin", "取消"));
inline const char* kNoVolumeControl = ui_text::add(
    &kNoVolumeControl, UI_TEXT("quorin", "没有找到音量控制程序（pavucontrol 或 alsamixer），请安装后再试。"));
// Running a class, the keyboard, a screen reader, devices (added).
inline const char* kMenuGrant = ui_text::add(&kMenuGrant, UI_TEXT("quorin", "允许发言"));
inline const char* kMenuWithdraw = ui_text::add(&kMenuWithdraw, UI_TEXT("quorin", "收回发言"));
inline const char* kMenuRemove = ui_text::add(&kMenuRemove, UI_TEXT("quorin", "移出课堂…"));
inline const char* kMenuVolume = ui_text::add(&kMenuVolume, UI_TEXT("quorin", "音量：%1%"));
inline const char* kAskRemove = ui_text::add(&kAskRemove, UI_TEXT("quorin", "确定将%1移出课堂？"));
inline const char* kHandQueueTitle = ui_text::add(&kHandQueueTitle, UI_TEXT("quorin", "举手列表"));
inline const char* kHandQueueWho = ui_text::add(&kHandQueueWho, UI_TEXT("quorin", "举手人"));
inline const char* kHandQueueSince = ui_text::add(&kHandQueueSince, UI_TEXT("quorin", "举手时间"));
inline const char* kHandQueueWaited = ui_text::add(&kHandQueueWaited, UI_TEXT("quorin", "已等待"));
inline const char* kHandQueueGrant = ui_text::add(&kHandQueueGrant, UI_TEXT("quorin", "允许发言"));
inline const char* kHandQueueWithdrawAll =
    ui_text::add(&kHandQueueWithdrawAll, UI_TEXT("quorin", "全部收回发言"));
inline const char* kHandQueueEmpty = ui_text::add(&kHandQueueEmpty, UI_TEXT("quorin", "现在没有人举手"));
inline const char* kMinutesSeconds = ui_text::add(&kMinutesSeconds, UI_TEXT("quorin", "%1分%2秒"));
inline const char* kTileHost = ui_text::add(&kTileHost, UI_TEXT("quorin", "发起人"));
inline const char* kTileStudent = ui_text::add(&kTileStudent, UI_TEXT("quorin", "学员"));
inline const char* kTileSelf = ui_text::add(&kTileSelf, UI_TEXT("quorin", "我"));
inline const char* kTileMicOn = ui_text::add(&kTileMicOn, UI_TEXT("quorin", "麦克风开"));
inline const char* kTileMicOff = ui_text::add(&kTileMicOff, UI_TEXT("quorin", "麦克风关"));
inline const char* kTileCameraOn = ui_text::add(&kTileCameraOn, UI_TEXT("quorin", "视频已打开"));
inline const char* kTileCameraOff = ui_text::add(&kTileCameraOff, UI_TEXT("quorin", "有摄像头"));
inline const char* kTileNoCamera = ui_text::add(&kTileNoCamera, UI_TEXT("quorin", "没有摄像头"));
inline const char* kTileHand = ui_text::add(&kTileHand, UI_TEXT("quorin", "举手中"));
inline const char* kTileMaySpeak = ui_text::add(&kTileMaySpeak, UI_TEXT("quorin", "可以发言"));
inline const char* kTileVolume = ui_text::add(&kTileVolume, UI_TEXT("quorin", "音量%1%"));
inline const char* kTileHelp =
    ui_text::add(&kTileHelp, UI_TEXT("quorin", "单击图标：麦克风、摄像头、举手；右键：更多操作"));
inline const char* kEmptyTile = ui_text::add(&kEmptyTile, UI_TEXT("quorin", "空位"));
inline const char* kMicVolume = ui_text::add(&kMicVolume, UI_TEXT("quorin", "麦克风音量"));
inline const char* kOutputVolume = ui_text::add(&kOutputVolume, UI_TEXT("quorin", "输出音量"));
} // namespace roster_text
