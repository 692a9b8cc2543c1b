// Chat fonts (see chat_format.h).
#include "chat/chat_format.h"

#include <QFontDatabase>
#include <QLocale>
#include <QSet>

#include "platform/gbk.h"
#include "platform/qtext.h"

QTextCharFormat locale_default_format(const QColor& colour) {
    QTextCharFormat f;
    const bool chinese = QLocale::system().language() == QLocale::Chinese;
    f.setFontFamilies(chinese ? QStringList{QString::fromUtf8("宋体"), "SimSun", "Noto Sans CJK SC"}
                              : QStringList{"MS Sans Serif", "Sans Serif", "Noto Sans CJK SC"});
    f.setFontPointSize(10);
    f.setFontWeight(QFont::Normal);
    f.setFontItalic(false);
    f.setFontUnderline(false);
    f.setFontStrikeOut(false);
    f.setForeground(colour);
    return f;
}

QTextCharFormat installed_families_only(const QTextCharFormat& format) {
    static const QSet<QString> installed = [] {
        QSet<QString> names;
        for (const QString& family : QFontDatabase::families())
            names.insert(family.toCaseFolded());
        return names;
    }();
    const QStringList families = format.fontFamilies().toStringList();
    QStringList kept;
    for (const QString& family : families)
        if (installed.contains(family.toCaseFolded()))
            kept.append(family);
    if (kept.isEmpty() || kept.size() == families.size())
        return format;
    QTextCharFormat shown = format;
    shown.setFontFamilies(kept);
    return shown;
}

QColor colour_of(uint32_t c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

ChatFont chat_font_of(const QTextCharFormat& f) {
    ChatFont font;
    const QStringList families = f.fontFamilies().toStringList();
    const std::string face = qstring_to_gbk(families.isEmpty() ? f.font().family() : families.front());
    font.face = face.substr(0, gbk_fit(face, 24));
    font.effects = uint16_t((f.fontWeight() >= QFont::Bold ? 1 : 0) | (f.fontItalic() ? 2 : 0) |
                            (f.fontUnderline() ? 4 : 0));
    const double points = f.fontPointSize() > 0 ? f.fontPointSize() : 10;
    font.height = uint16_t(points * 20 + 0.5);
    const QColor c = f.foreground().color();
    font.colour = uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
    return font;
}

QTextCharFormat format_of(const ChatFont& font) {
    QTextCharFormat f;
    if (!font.face.empty())
        f.setFontFamilies(QStringList{gbk_to_qstring(font.face), "Noto Sans CJK SC"});
    // A height of 0 or a silly one from the network falls back to the usual 10 points.
    const double points = font.height >= 80 && font.height <= 1440 ? font.height / 20.0 : 10.0;
    f.setFontPointSize(points);
    f.setFontWeight(font.effects & 1 ? QFont::Bold : QFont::Normal);
    f.setFontItalic(font.effects & 2);
    f.setFontUnderline(font.effects & 4);
    f.setForeground(colour_of(font.colour));
    return f;
}
