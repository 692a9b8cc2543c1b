// The client's own texts shown by start-up, in one place.
#pragma once

constexpr const char* kDefaultTitle = "Lumeno视频社区";
constexpr const char* kCaptionHint = "提示";
constexpr const char* kAlreadyRunningText = "客户端已经在运行，请先关闭或者稍候再试！";
constexpr const char* kMutexName = "ZAVRIQ2010TO";
