// The interface language (see language.h).
#include "platform/language.h"

#include <QCoreApplication>
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

std::string apply_interface_language(const std::string& setting, const std::string& translations_folder) {
    const std::string language = choose_interface_language(setting, QLocale::system().name().toStdString());
    if (language != "en")
        return "zh";
    static std::unique_ptr<QTranslator> translator;
    translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("quorin_en"), QString::fromStdString(translations_folder))) {
        translator.reset();
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
