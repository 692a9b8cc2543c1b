// The font list read ahead (see font_warm_up.h).
#include "platform/font_warm_up.h"

#include <dlfcn.h>

#include <QFontDatabase>
#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The few calls of fontconfig's public interface that set up a configuration, taken from the copy already
// loaded into the process (Qt's), so the client neither links it nor loads it by itself.
struct Fontconfig {
    using Config = void;
    using StrList = void;
    using Pattern = void;
    using CharSet = void;
    Config* (*create)() = nullptr;
    int (*parse_and_load)(Config*, const unsigned char*, int) = nullptr;
    StrList* (*cache_dirs)(Config*) = nullptr;
    unsigned char* (*next)(StrList*) = nullptr;
    void (*list_done)(StrList*) = nullptr;
    int (*build_fonts)(Config*) = nullptr;
    int (*set_current)(Config*) = nullptr;
    void (*destroy)(Config*) = nullptr;
    // For the family chosen for Chinese text.
    Pattern* (*pattern_create)() = nullptr;
    int (*pattern_add_string)(Pattern*, const char*, const unsigned char*) = nullptr;
    int (*config_substitute)(Config*, Pattern*, int) = nullptr;
    void (*default_substitute)(Pattern*) = nullptr;
    Pattern* (*font_match)(Config*, Pattern*, int*) = nullptr;
    int (*pattern_get_string)(const Pattern*, const char*, int, unsigned char**) = nullptr;
    int (*pattern_get_charset)(const Pattern*, const char*, int, CharSet**) = nullptr;
    int (*charset_has_char)(const CharSet*, unsigned) = nullptr;
    void (*pattern_destroy)(Pattern*) = nullptr;

    bool Find() {
        void* lib = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_NOLOAD);
        if (!lib)
            return false;
        create = reinterpret_cast<decltype(create)>(dlsym(lib, "FcConfigCreate"));
        parse_and_load = reinterpret_cast<decltype(parse_and_load)>(dlsym(lib, "FcConfigParseAndLoad"));
        cache_dirs = reinterpret_cast<decltype(cache_dirs)>(dlsym(lib, "FcConfigGetCacheDirs"));
        next = reinterpret_cast<decltype(next)>(dlsym(lib, "FcStrListNext"));
        list_done = reinterpret_cast<decltype(list_done)>(dlsym(lib, "FcStrListDone"));
        build_fonts = reinterpret_cast<decltype(build_fonts)>(dlsym(lib, "FcConfigBuildFonts"));
        set_current = reinterpret_cast<decltype(set_current)>(dlsym(lib, "FcConfigSetCurrent"));
        destroy = reinterpret_cast<decltype(destroy)>(dlsym(lib, "FcConfigDestroy"));
        pattern_create = reinterpret_cast<decltype(pattern_create)>(dlsym(lib, "FcPatternCreate"));
        pattern_add_string = reinterpret_cast<decltype(pattern_add_string)>(dlsym(lib, "FcPatternAddString"));
        config_substitute = reinterpret_cast<decltype(config_substitute)>(dlsym(lib, "FcConfigSubstitute"));
        default_substitute =
            reinterpret_cast<decltype(default_substitute)>(dlsym(lib, "FcDefaultSubstitute"));
        font_match = reinterpret_cast<decltype(font_match)>(dlsym(lib, "FcFontMatch"));
        pattern_get_string = reinterpret_cast<decltype(pattern_get_string)>(dlsym(lib, "FcPatternGetString"));
        pattern_get_charset =
            reinterpret_cast<decltype(pattern_get_charset)>(dlsym(lib, "FcPatternGetCharSet"));
        charset_has_char = reinterpret_cast<decltype(charset_has_char)>(dlsym(lib, "FcCharSetHasChar"));
        pattern_destroy = reinterpret_cast<decltype(pattern_destroy)>(dlsym(lib, "FcPatternDestroy"));
        // The process keeps the library (Qt links it); this handle's reference goes.
        dlclose(lib);
        return create && parse_and_load && cache_dirs && next && list_done && build_fonts && set_current &&
               destroy && pattern_create && pattern_add_string && config_substitute && default_substitute &&
               font_match && pattern_get_string && pattern_get_charset && charset_has_char && pattern_destroy;
    }

    // fontconfig's default configuration, as its own set-up makes it but for the templates, made current.
    // Left to fontconfig when any step fails, or when the configuration names no cache folder (fontconfig
    // then adds its own and warns).
    void SetUpConfiguration() {
        Config* config = create();
        if (!config)
            return;
        // Once current it stays for the process's life (fontconfig keeps it until the next one); the
        // reference made here is kept with it, as versions differ in whether making it current takes one.
        if (!Complete(config) || !set_current(config))
            destroy(config);
    }

    bool Complete(Config* config) {
        if (!parse_and_load(config, nullptr, 1))
            return false;
        StrList* dirs = cache_dirs(config);
        if (!dirs)
            return false;
        const bool cached = next(dirs) != nullptr;
        list_done(dirs);
        return cached && build_fonts(config);
    }

    // The family fontconfig gives a sans-serif font asked for in Simplified Chinese, in the current
    // configuration, when that font has the glyphs of everyday Chinese text; empty otherwise (no Chinese font
    // installed: fontconfig then answers with a Latin one).
    std::string ChineseFamily() {
        constexpr int kMatchPattern = 0, kResultMatch = 0;
        constexpr size_t kMaxName = 256;
        Pattern* wanted = pattern_create();
        if (!wanted)
            return {};
        std::string family;
        if (pattern_add_string(wanted, "family", reinterpret_cast<const unsigned char*>("sans-serif")) &&
            pattern_add_string(wanted, "lang", reinterpret_cast<const unsigned char*>("zh-cn")) &&
            config_substitute(nullptr, wanted, kMatchPattern)) {
            default_substitute(wanted);
            int result = -1;
            if (Pattern* found = font_match(nullptr, wanted, &result)) {
                unsigned char* name = nullptr;
                CharSet* glyphs = nullptr;
                if (result == kResultMatch && pattern_get_string(found, "family", 0, &name) == kResultMatch &&
                    name && std::strlen(reinterpret_cast<const char*>(name)) < kMaxName &&
                    pattern_get_charset(found, "charset", 0, &glyphs) == kResultMatch && glyphs &&
                    HasChineseGlyphs(glyphs))
                    family = reinterpret_cast<const char*>(name);
                pattern_destroy(found);
            }
        }
        pattern_destroy(wanted);
        return family;
    }

    // 中文的人们说 and the full-width comma and colon: common characters, simplified forms among them.
    bool HasChineseGlyphs(const CharSet* glyphs) {
        for (unsigned c : {0x4E2Du, 0x6587u, 0x7684u, 0x4EBAu, 0x4EECu, 0x8BF4u, 0xFF0Cu, 0xFF1Au})
            if (!charset_has_char(glyphs, c))
                return false;
        return true;
    }
};

} // namespace

FontWarmUp::FontWarmUp() : thread_([this] { Run(); }) {}

FontWarmUp::~FontWarmUp() {
    thread_.join();
}

void FontWarmUp::Run() {
    Fontconfig fc;
    std::string chinese;
    if (fc.Find()) {
        if (std::getenv("FC_DEBUG") == nullptr)
            fc.SetUpConfiguration();
        chinese = fc.ChineseFamily();
    }
    {
        std::lock_guard lock(mutex_);
        chinese_family_ = QString::fromStdString(chinese);
        configured_ = true;
    }
    configured_cv_.notify_all();
    QFontDatabase::families();
}

void FontWarmUp::WaitForConfiguration() {
    std::unique_lock lock(mutex_);
    configured_cv_.wait(lock, [this] { return configured_; });
}

QString FontWarmUp::ChineseFamily() {
    std::unique_lock lock(mutex_);
    configured_cv_.wait(lock, [this] { return configured_; });
    return chinese_family_;
}
