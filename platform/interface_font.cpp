// The interface's font (see interface_font.h).
#include "platform/interface_font.h"

#include <QApplication>
#include <QStringList>

QFont interface_font(const QFont& base, const QString& chinese_family, bool chinese_first) {
    if (chinese_family.isEmpty())
        return base;
    QStringList families = base.families();
    if (families.isEmpty())
        families.append(base.family());
    families.removeAll(chinese_family);
    if (chinese_first)
        families.prepend(chinese_family);
    else
        families.append(chinese_family);
    QFont font = base;
    font.setFamilies(families);
    return font;
}

void apply_interface_font(const QString& chinese_family, bool chinese_first) {
    if (!chinese_family.isEmpty())
        QApplication::setFont(interface_font(QApplication::font(), chinese_family, chinese_first));
}
