// The interface language (see language.h).
#include "platform/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>

#include "platform/ui_text.h"

std::string choose_interface_language(const std::string& setting, const std::string& system_locale) {
    if (setting == "zh" || setting == "en")
        return setting;
    if (system_locale.rfind("zh", 0) == 0 || system_locale.empty() || system_locale == "C" ||
        system_locale == "POSIX")
        return "zh";
    return "en";
}

namespace {
// Qt's own texts (standard buttons, the font and file dialogs) in Chinese, so that a Chinese window never
// asks with English buttons. Missing catalogues (qt6-translations-l10n not installed) leave Qt's English.
void load_chinese_qt_texts() {
    static std::unique_ptr<QTranslator> qt_texts;
    qt_texts = std::make_unique<QTranslator>();
    if (qt_texts->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                       QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt_texts.get());
    else
        qt_texts.reset();
}
} // namespace

std::string apply_interface_language(const std::string& setting, const std::string& translations_folder) {
    const std::string language = choose_interface_language(setting, QLocale::system().name().toStdString());
    if (language != "en") {
        load_chinese_qt_texts();
        return "zh";
    }
    static std::unique_ptr<QTranslator> translator;
    translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("quorin_en"), QString::fromStdString(translations_folder))) {
        translator.reset();
        load_chinese_qt_texts();
        return "zh";
    }
    QCoreApplication::installTranslator(translator.get());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ui_text::translate_all([](const char* source) {
        const QString t = QCoreApplication::translate("quorin", source);
        return t == QString::fromUtf8(source) ? std::string() : t.toStdString();
    });
    return "en";
}
