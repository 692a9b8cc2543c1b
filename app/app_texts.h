// The client's own texts shown by start-up, in one place.
#pragma once

#include "platform/ui_text.h"

constexpr const char* kDefaultTitle = "Lumeno视频社区";
inline const char* kCaptionHint = ui_text::add(&kCaptionHint, UI_TEXT("quorin", "提示"));
inline const char* kAlreadyRunningText =
    ui_text::add(&kAlreadyRunningText, UI_TEXT("quorin", "客户端已经在运行，请先关闭或者稍候再试！"));
constexpr const char* kMutexName = "ZAVRIQ2010TO";

// The maximise button's tool tips.
inline const char* kMaximiseTip = ui_text::add(&kMaximiseTip, UI_TEXT("quorin", "最大化"));
inline const char* kRestoreTip = ui_text::add(&kRestoreTip, UI_TEXT("quorin", "还原"));
// Running a class from the main window: the speak request's two states, the host's list of hands, leaving,
// the keyboard.
inline const char* kRaiseHand = ui_text::add(&kRaiseHand, UI_TEXT("quorin", "举手发言"));
inline const char* kLowerHand = ui_text::add(&kLowerHand, UI_TEXT("quorin", "放下手"));
inline const char* kHandQueue = ui_text::add(&kHandQueue, UI_TEXT("quorin", "举手列表"));
inline const char* kHandQueueCount = ui_text::add(&kHandQueueCount, UI_TEXT("quorin", "举手列表（%1人）"));
inline const char* kAskLeave = ui_text::add(&kAskLeave, UI_TEXT("quorin", "课堂正在进行，确定要离开吗？"));
inline const char* kShortcutsTitle = ui_text::add(&kShortcutsTitle, UI_TEXT("quorin", "快捷键"));
inline const char* kShortcutMicrophone =
    ui_text::add(&kShortcutMicrophone, UI_TEXT("quorin", "打开或关闭麦克风"));
inline const char* kShortcutCamera = ui_text::add(&kShortcutCamera, UI_TEXT("quorin", "打开或关闭摄像头"));
inline const char* kShortcutHand = ui_text::add(&kShortcutHand, UI_TEXT("quorin", "举手或放下手"));
inline const char* kShortcutFullScreen =
    ui_text::add(&kShortcutFullScreen, UI_TEXT("quorin", "选中的画面全屏（再按一次还原）"));
inline const char* kShortcutLeave = ui_text::add(&kShortcutLeave, UI_TEXT("quorin", "离开课堂"));
inline const char* kShortcutList = ui_text::add(&kShortcutList, UI_TEXT("quorin", "显示本列表"));
inline const char* kNoPictureToShow =
    ui_text::add(&kNoPictureToShow, UI_TEXT("quorin", "没有可以全屏显示的画面"));

// The start screen.
inline const char* kStartTitle = ui_text::add(&kStartTitle, UI_TEXT("quorin", "加入课堂"));
inline const char* kStartLinkLabel = ui_text::add(&kStartLinkLabel, UI_TEXT("quorin", "课堂链接："));
inline const char* kStartPaste = ui_text::add(&kStartPaste, UI_TEXT("quorin", "粘贴(&P)"));
inline const char* kStartOr = ui_text::add(&kStartOr, UI_TEXT("quorin", "或者输入："));
inline const char* kStartRoom = ui_text::add(&kStartRoom, UI_TEXT("quorin", "房间号："));
inline const char* kStartUser = ui_text::add(&kStartUser, UI_TEXT("quorin", "用户号："));
inline const char* kStartServer = ui_text::add(&kStartServer, UI_TEXT("quorin", "服务器："));
inline const char* kStartServerHint =
    ui_text::add(&kStartServerHint, UI_TEXT("quorin", "主机:端口（不填：只在本机）"));
inline const char* kStartJoin = ui_text::add(&kStartJoin, UI_TEXT("quorin", "加入(&J)"));
inline const char* kStartQuit = ui_text::add(&kStartQuit, UI_TEXT("quorin", "退出(&Q)"));
inline const char* kStartNoUser = ui_text::add(&kStartNoUser, UI_TEXT("quorin", "链接中没有用户号。"));
inline const char* kStartBadNumbers =
    ui_text::add(&kStartBadNumbers, UI_TEXT("quorin", "请填写房间号和用户号（大于 0 的数字）。"));
inline const char* kStartBadServer =
    ui_text::add(&kStartBadServer, UI_TEXT("quorin", "服务器请写成 主机:端口，例如 192.168.1.10:6000。"));

// A class link that arrives while the client is in another class.
inline const char* kSwitchClassText =
    ui_text::add(&kSwitchClassText, UI_TEXT("quorin", "您正在另一个课堂中。离开当前课堂，加入新的课堂吗？"));
