// The client's own texts in the interface language. Each texts header defines its texts in Chinese (UTF-8),
// the source language, and records them here while the program starts; once the language is chosen, every
// recorded text is replaced by its translation, so the code that shows a text never changes. Texts from
// files (skin captions) are translated one by one with `translate`. Wire texts, nicknames and chat lines are
// never translated. Everything here runs before the first window and on the UI thread afterwards.
#pragma once

#include <functional>
#include <string>

// Marks a text for the translation tools (lupdate reads it as QT_TRANSLATE_NOOP) and stands for the text.
#define UI_TEXT(context, text) text

namespace ui_text {

// Records the text pointer of a texts header and returns its source text (static initialisation).
const char* add(const char** slot, const char* source);
// Replaces every recorded text with its translation; `lookup` answers a source text with its translation, or
// an empty text when there is none. It is kept for `translate`.
void translate_all(std::function<std::string(const char* source)> lookup);
// One text in the interface language (the text itself when there is no translation).
std::string translate(const std::string& source);
// False once a translation is in use (the interface is not in Chinese).
bool source_language();

} // namespace ui_text
