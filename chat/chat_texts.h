// Texts of the chat panels (UTF-8).
#pragma once

#include "platform/ui_text.h"

namespace chat_text {
inline const char* kEveryone = ui_text::add(&kEveryone, UI_TEXT("quorin", "所有人"));
inline const char* kSend = ui_text::add(&kSend, UI_TEXT("quorin", "发送"));
inline const char* kUserLeft = ui_text::add(&kUserLeft, UI_TEXT("quorin", "已离开房间"));
inline const char* kYou = ui_text::add(&kYou, UI_TEXT("quorin", "你"));
inline const char* kAll = ui_text::add(&kAll, UI_TEXT("quorin", "大家"));
inline const char* kSaidTo =
    ui_text::add(&kSaidTo, UI_TEXT("quorin", "<b>&lt;%1&gt;</b> 对 <b>&lt;%2&gt;</b> 说：%3"));
inline const char* kISaidTo = ui_text::add(&kISaidTo, UI_TEXT("quorin", "我 对 %1 说：%2"));
// The rich text's context menu; every entry ends with a blank.
inline const char* kMenuUndo = ui_text::add(&kMenuUndo, UI_TEXT("quorin", "撤消(&U)\tCtrl+Z "));
inline const char* kMenuCut = ui_text::add(&kMenuCut, UI_TEXT("quorin", "剪切(&X)\tCtrl+X "));
inline const char* kMenuCopy = ui_text::add(&kMenuCopy, UI_TEXT("quorin", "复制(&C)\tCtrl+C "));
inline const char* kMenuPaste = ui_text::add(&kMenuPaste, UI_TEXT("quorin", "粘贴(&P)\tCtrl+V "));
inline const char* kMenuClear = ui_text::add(&kMenuClear, UI_TEXT("quorin", "清除(&L) "));
inline const char* kMenuSelectAll = ui_text::add(&kMenuSelectAll, UI_TEXT("quorin", "全选(&A)\tCtrl+A "));
inline const char* kMenuFont = ui_text::add(&kMenuFont, UI_TEXT("quorin", "字体(&F) "));
inline const char* kMenuDetail = ui_text::add(&kMenuDetail, UI_TEXT("quorin", "显示详细信息"));
// The font dialog.
inline const char* kFontTitle = ui_text::add(&kFontTitle, UI_TEXT("quorin", "字体"));
inline const char* kColour = ui_text::add(&kColour, UI_TEXT("quorin", "颜色："));
inline const char* kMoreColours = ui_text::add(&kMoreColours, UI_TEXT("quorin", "其他颜色..."));
inline const char* kFontSample = ui_text::add(&kFontSample, UI_TEXT("quorin", "微软中文软件 AaBbYyZz"));
inline const char* kOk = ui_text::add(&kOk, UI_TEXT("quorin", "确定"));
inline const char* kCancel = ui_text::add(&kCancel, UI_TEXT("quorin", "取消"));
// The chat input.
inline const char* kLabel = ui_text::add(&kLabel, UI_TEXT("quorin", "我对"));
inline const char* kPrivate = ui_text::add(&kPrivate, UI_TEXT("quorin", "私聊"));
inline const char* kTooLong = ui_text::add(&kTooLong, UI_TEXT("quorin", "输入消息太长了,无法发送!"));
inline const char* kNoBuffer = ui_text::add(&kNoBuffer, UI_TEXT("quorin", "数据无法发送出去, 内存不足!"));
inline const char* kOwnHeader = ui_text::add(&kOwnHeader, UI_TEXT("quorin", "%02d:%02d:%02d <我>对<%s>说："));
inline const char* kRecipientGone =
    ui_text::add(&kRecipientGone, UI_TEXT("quorin", "接收人已离开，消息将发给所有人"));
// The message log.
inline const char* kHeader = ui_text::add(&kHeader, UI_TEXT("quorin", "%02d:%02d:%02d <%s>对<%s>说："));
inline const char* kStamp = ui_text::add(&kStamp, UI_TEXT("quorin", "%02d:%02d:%02d："));
inline const char* kUnknownFace = ui_text::add(&kUnknownFace, UI_TEXT("quorin", "[表情%d]"));
// Running a class, the keyboard, a screen reader, devices (added).
inline const char* kMenuSaveText = ui_text::add(&kMenuSaveText, UI_TEXT("quorin", "保存为文本…"));
inline const char* kMenuSaveHtml = ui_text::add(&kMenuSaveHtml, UI_TEXT("quorin", "保存为网页…"));
inline const char* kSaveTitle = ui_text::add(&kSaveTitle, UI_TEXT("quorin", "保存聊天记录"));
inline const char* kSaveFileName = ui_text::add(&kSaveFileName, UI_TEXT("quorin", "聊天记录_%1"));
inline const char* kSaveFilterText = ui_text::add(&kSaveFilterText, UI_TEXT("quorin", "文本文件 (*.txt)"));
inline const char* kSaveFilterHtml = ui_text::add(&kSaveFilterHtml, UI_TEXT("quorin", "网页 (*.html)"));
inline const char* kSaved = ui_text::add(&kSaved, UI_TEXT("quorin", "聊天记录已保存在 %1"));
inline const char* kSaveFailed = ui_text::add(&kSaveFailed, UI_TEXT("quorin", "无法保存聊天记录：%1"));
inline const char* kFaceInText = ui_text::add(&kFaceInText, UI_TEXT("quorin", "[表情]"));
inline const char* kLogName = ui_text::add(&kLogName, UI_TEXT("quorin", "消息记录"));
inline const char* kLogDescription =
    ui_text::add(&kLogDescription, UI_TEXT("quorin", "聊天和通知；右键可复制、保存或清除"));
inline const char* kPrivateLabel = ui_text::add(&kPrivateLabel, UI_TEXT("quorin", "【私聊】"));
inline const char* kRecipientsName = ui_text::add(&kRecipientsName, UI_TEXT("quorin", "接收人"));
inline const char* kPrivateTip = ui_text::add(&kPrivateTip, UI_TEXT("quorin", "私聊：只有选中的人看得到"));
inline const char* kInputName = ui_text::add(&kInputName, UI_TEXT("quorin", "输入消息"));
inline const char* kInputTip = ui_text::add(&kInputTip, UI_TEXT("quorin", "Enter 发送，Ctrl+Enter 换行"));
} // namespace chat_text
