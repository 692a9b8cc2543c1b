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
