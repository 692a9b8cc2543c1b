// The client's own texts in the interface language (see ui_text.h).
#include "platform/ui_text.h"

#include <deque>
#include <vector>

namespace ui_text {

namespace {

struct Texts {
    std::vector<std::pair<const char**, const char*>> slots; // where a text lives, its source
    std::deque<std::string> translations;                    // stable storage for the translated texts
    std::function<std::string(const char*)> lookup;
};

Texts& texts() {
    static Texts t;
    return t;
}

} // namespace

const char* add(const char** slot, const char* source) {
    texts().slots.emplace_back(slot, source);
    return source;
}

void translate_all(std::function<std::string(const char* source)> lookup) {
    Texts& t = texts();
    t.lookup = std::move(lookup);
    for (auto& [slot, source] : t.slots) {
        std::string translated = t.lookup ? t.lookup(source) : std::string();
        if (translated.empty()) {
            *slot = source;
            continue;
        }
        t.translations.push_back(std::move(translated));
        *slot = t.translations.back().c_str();
    }
}

std::string translate(const std::string& source) {
    const Texts& t = texts();
    if (!t.lookup || source.empty())
        return source;
    std::string translated = t.lookup(source.c_str());
    return translated.empty() ? source : translated;
}

bool source_language() {
    return !texts().lookup;
}

} // namespace ui_text
