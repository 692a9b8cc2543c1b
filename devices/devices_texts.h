// Texts of the device setup dialogs (UTF-8).
#pragma once

#include "platform/ui_text.h"

namespace devices_text {
inline const char* kCaption = ui_text::add(&kCaption, UI_TEXT("quorin", "提示"));
inline const char* kOk = ui_text::add(&kOk, UI_TEXT("quorin", "确定"));
inline const char* kCancel = ui_text::add(&kCancel, UI_TEXT("quorin", "取消"));
// The audio setup dialog.
inline const char* kAudioSetup = ui_text::add(&kAudioSetup, UI_TEXT("quorin", "音频设置"));
inline const char* kAudioDevices = ui_text::add(&kAudioDevices, UI_TEXT("quorin", "音频设备"));
inline const char* kRecordingDevice = ui_text::add(&kRecordingDevice, UI_TEXT("quorin", "录音设备"));
inline const char* kPlaybackDevice = ui_text::add(&kPlaybackDevice, UI_TEXT("quorin", "播放设备"));
inline const char* kDefaultDevice = ui_text::add(&kDefaultDevice, UI_TEXT("quorin", "默认设备"));
inline const char* kAdjustInput = ui_text::add(&kAdjustInput, UI_TEXT("quorin", "调节(&I)"));
inline const char* kAdjustOutput = ui_text::add(&kAdjustOutput, UI_TEXT("quorin", "调节(&O)"));
inline const char* kNoVolumeControl = ui_text::add(
    &kNoVolumeControl, UI_TEXT("quorin", "没有找到音量控制程序（pavucontrol 或 alsamixer），请安装后再试。"));
// The camera setup dialog.
inline const char* kVideoSetup = ui_text::add(&kVideoSetup, UI_TEXT("quorin", "视频设置"));
inline const char* kCaptureDevices = ui_text::add(&kCaptureDevices, UI_TEXT("quorin", "视频捕获设备"));
inline const char* kVideoDevice = ui_text::add(&kVideoDevice, UI_TEXT("quorin", "视频设备："));
} // namespace devices_text
