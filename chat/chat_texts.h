// Texts of the chat panels (UTF-8).
#pragma once

namespace chat_text {
constexpr const char* kEveryone = "所有人";
constexpr const char* kSend = "发送";
constexpr const char* kUserLeft = "已离开房间";
constexpr const char* kYou = "你";
constexpr const char* kAll = "大家";
constexpr const char* kSaidTo = "<b>&lt;%1&gt;</b> 对 <b>&lt;%2&gt;</b> 说：%3";
constexpr const char* kISaidTo = "我 对 %1 说：%2";
// The rich text's context menu; every entry ends with a blank.
constexpr const char* kMenuUndo = "撤消(&U)\tCtrl+Z ";
constexpr const char* kMenuCut = "剪切(&X)\tCtrl+X ";
constexpr const char* kMenuCopy = "复制(&C)\tCtrl+C ";
constexpr const char* kMenuPaste = "粘贴(&P)\tCtrl+V ";
constexpr const char* kMenuClear = "清除(&L) ";
constexpr const char* kMenuSelectAll = "全选(&A)\tCtrl+A ";
constexpr const char* kMenuFont = "字体(&F) ";
constexpr const char* kMenuDetail = "显示详细信息";
// The font dialog.
constexpr const char* kFontTitle = "字体";
constexpr const char* kColour = "颜色：";
constexpr const char* kMoreColours = "其他颜色...";
constexpr const char* kFontSample = "微软中文软件 AaBbYyZz";
constexpr const char* kOk = "确定";
constexpr const char* kCancel = "取消";
// The chat input.
constexpr const char* kLabel = "我对";
constexpr const char* kPrivate = "私聊";
constexpr const char* kTooLong = "输入消息太长了,无法发送!";
constexpr const char* kNoBuffer = "数据无法发送出去, 内存不足!";
constexpr const char* kOwnHeader = "%02d:%02d:%02d <我>对<%s>说：";
constexpr const char* kRecipientGone = "接收人已离开，消息将发给所有人";
// The message log.
constexpr const char* kHeader = "%02d:%02d:%02d <%s>对<%s>说：";
constexpr const char* kStamp = "%02d:%02d:%02d：";
constexpr const char* kUnknownFace = "[表情%d]";
} // namespace chat_text
