// Texts of the chat panels (UTF-8).
#pragma once

namespace chat_text {
constexpr const char* kEveryone = "所有人";
constexpr const char* kSend = "发送";
constexpr const char* kUserLeft = "己离开房间";
constexpr const char* kYou = "你";
constexpr const char* kAll = "大家";
constexpr const char* kSaidTo = "<b>&lt;%1&gt;</b> 对 <b>&lt;%2&gt;</b> 说：%3";
constexpr const char* kISaidTo = "我 对 %1 说：%2";
} // namespace chat_text
