// The font list read ahead (see font_warm_up.h).
#include "platform/font_warm_up.h"

#include <dlfcn.h>

#include <QFontDatabase>
#include <QStringList>

#include <cstdlib>

namespace {

// The few calls of fontconfig's public interface that set up a configuration, taken from the copy already
// loaded into the process (Qt's), so the client neither links it nor loads it by itself.
struct Fontconfig {
    using Config = void;
    using StrList = void;
    Config* (*create)() = nullptr;
    int (*parse_and_load)(Config*, const unsigned char*, int) = nullptr;
    StrList* (*cache_dirs)(Config*) = nullptr;
    unsigned char* (*next)(StrList*) = nullptr;
    void (*list_done)(StrList*) = nullptr;
    int (*build_fonts)(Config*) = nullptr;
    int (*set_current)(Config*) = nullptr;
    void (*destroy)(Config*) = nullptr;

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
        // The process keeps the library (Qt links it); this handle's reference goes.
        dlclose(lib);
        return create && parse_and_load && cache_dirs && next && list_done && build_fonts && set_current &&
               destroy;
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
};

} // namespace

FontWarmUp::FontWarmUp() : thread_([this] { Run(); }) {}

FontWarmUp::~FontWarmUp() {
    thread_.join();
}

void FontWarmUp::Run() {
    Fontconfig fc;
    if (std::getenv("FC_DEBUG") == nullptr && fc.Find())
        fc.SetUpConfiguration();
    {
        std::lock_guard lock(mutex_);
        configured_ = true;
    }
    configured_cv_.notify_all();
    QFontDatabase::families();
}

void FontWarmUp::WaitForConfiguration() {
    std::unique_lock lock(mutex_);
    configured_cv_.wait(lock, [this] { return configured_; });
}
