// Texts of the video panels (UTF-8).
#pragma once

#include "platform/ui_text.h"

namespace video_text {
inline const char* kLocalVideo = ui_text::add(&kLocalVideo, UI_TEXT("quorin", "本地视频"));
inline const char* kNoVideo = ui_text::add(&kNoVideo, UI_TEXT("quorin", "视频未开启"));
inline const char* kCameraInitFailed =
    ui_text::add(&kCameraInitFailed, UI_TEXT("quorin", "摄像头初始化失败!"));
inline const char* kSnapshotSaved = ui_text::add(&kSnapshotSaved, UI_TEXT("quorin", "抓图成功 保存在 %1"));
inline const char* kRemoteSnapshotSaved =
    ui_text::add(&kRemoteSnapshotSaved, UI_TEXT("quorin", "对%1抓图成功,保存在 %2"));
inline const char* kNotDecodable = ui_text::add(&kNotDecodable, UI_TEXT("quorin", "（视频格式无法解码）"));
inline const char* kCameraLost = ui_text::add(&kCameraLost, UI_TEXT("quorin", "摄像头已断开"));
inline const char* kVideoSetup = ui_text::add(&kVideoSetup, UI_TEXT("quorin", "视频设置"));
inline const char* kCaptureDevices = ui_text::add(&kCaptureDevices, UI_TEXT("quorin", "视频捕获设备"));
inline const char* kVideoDevice = ui_text::add(&kVideoDevice, UI_TEXT("quorin", "视频设备："));
inline const char* kOk = ui_text::add(&kOk, UI_TEXT("quorin", "确定"));
inline const char* kCancel = ui_text::add(&kCancel, UI_TEXT("quorin", "取消"));
// Running a class, the keyboard, a screen reader, devices (added).
inline const char* kPictureHelp =
    ui_text::add(&kPictureHelp, UI_TEXT("quorin", "单击选中，双击放大，F11 全屏"));
} // namespace video_text
