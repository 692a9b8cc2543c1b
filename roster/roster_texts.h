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
} // namespace roster_text
