// The interface language: chosen from the setting, or from the system's language, before the first window.
#pragma once

#include <string>

// `setting` "zh" or "en" chooses; anything else ("auto", empty) follows the system: Chinese for a Chinese
// system and for one without a language (C, POSIX), English for any other. For English the translation
// catalogue quorin_en.qm of `translations_folder` is loaded and every text of the client is replaced
// (platform/ui_text.h); for Chinese, Qt's own texts (standard buttons, dialogs) are loaded in Chinese.
// Returns the language in use, "zh" or "en" (Chinese when the catalogue is missing).
std::string apply_interface_language(const std::string& setting, const std::string& translations_folder);

// The language a setting and a system locale name ("en_US", "zh_CN", "C") lead to.
std::string choose_interface_language(const std::string& setting, const std::string& system_locale);
