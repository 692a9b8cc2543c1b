// Texts of the video panels (UTF-8).
#pragma once

namespace video_text {
constexpr const char* kLocalVideo = "本地视频";
constexpr const char* kNoVideo = "视频未开启";
constexpr const char* kCameraInitFailed = "摄像头初始化失败!";
constexpr const char* kSnapshotSaved = "抓图成功 保存在 %1";
constexpr const char* kRemoteSnapshotSaved = "对%1抓图成功,保存在 %2";
constexpr const char* kNotDecodable = "（视频格式无法解码）";
constexpr const char* kCameraLost = "摄像头已断开";
constexpr const char* kVideoSetup = "视频设置";
constexpr const char* kCaptureDevices = "视频捕获设备";
constexpr const char* kVideoDevice = "视频设备：";
constexpr const char* kOk = "确定";
constexpr const char* kCancel = "取消";
} // namespace video_text
