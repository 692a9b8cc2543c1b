// QString helpers over text.h: where GBK text meets Qt widgets.
#pragma once

#include <QString>

#include <string>
#include <string_view>

#include "platform/text.h"

inline QString gbk_to_qstring(std::string_view gbk) {
    return QString::fromStdString(gbk_to_utf8(gbk));
}

inline std::string qstring_to_gbk(const QString& s) {
    QByteArray utf8 = s.toUtf8();
    return utf8_to_gbk(std::string_view(utf8.constData(), size_t(utf8.size())));
}
