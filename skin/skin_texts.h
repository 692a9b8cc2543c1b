// The tool tips that the skin's layout files give their buttons. A caption read from a layout file is shown
// in the interface language when the translation catalogue has it; this list puts the captions of the
// project's own skin into the catalogue.
#pragma once

#include "platform/ui_text.h"

namespace skin_text {
inline const char* const kCaptions[] = {
    UI_TEXT("quorin", "最小化"),   UI_TEXT("quorin", "最大化"),   UI_TEXT("quorin", "关闭"),
    UI_TEXT("quorin", "帮助"),     UI_TEXT("quorin", "申请发言"), UI_TEXT("quorin", "音频设置"),
    UI_TEXT("quorin", "视频设置"), UI_TEXT("quorin", "举手列表"), UI_TEXT("quorin", "发送"),
    UI_TEXT("quorin", "字体"),     UI_TEXT("quorin", "表情"),     UI_TEXT("quorin", "截图"),
    UI_TEXT("quorin", "上一页"),   UI_TEXT("quorin", "下一页"),   UI_TEXT("quorin", "麦克风"),
    UI_TEXT("quorin", "输出"),     UI_TEXT("quorin", "声音"),     UI_TEXT("quorin", "快照"),
    UI_TEXT("quorin", "放大"),     UI_TEXT("quorin", "缩小"),
};
} // namespace skin_text
