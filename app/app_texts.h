// The client's own texts shown by start-up, in one place.
#pragma once

constexpr const char* kDefaultTitle = "Lumeno视频社区";
constexpr const char* kCaptionHint = "提示";
constexpr const char* kAlreadyRunningText = "客户端已经在运行，请先关闭或者稍候再试！";
constexpr const char* kMutexName = "ZAVRIQ2010TO";

// The start screen.
constexpr const char* kStartTitle = "加入课堂";
constexpr const char* kStartLinkLabel = "课堂链接：";
constexpr const char* kStartPaste = "粘贴(&P)";
constexpr const char* kStartOr = "或者输入：";
constexpr const char* kStartRoom = "房间号：";
constexpr const char* kStartUser = "用户号：";
constexpr const char* kStartServer = "服务器：";
constexpr const char* kStartServerHint = "主机:端口（不填：只在本机）";
constexpr const char* kStartJoin = "加入(&J)";
constexpr const char* kStartQuit = "退出(&Q)";
constexpr const char* kStartNoUser = "链接中没有用户号。";
constexpr const char* kStartBadNumbers = "请填写房间号和用户号（大于 0 的数字）。";
constexpr const char* kStartBadServer = "服务器请写成 主机:端口，例如 192.168.1.10:6000。";

// A class link that arrives while the client is in another class.
constexpr const char* kSwitchClassText = "您正在另一个课堂中。离开当前课堂，加入新的课堂吗？";
