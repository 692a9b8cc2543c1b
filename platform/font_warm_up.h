// The system's font list, read on a thread of its own while start-up goes on. Reading it is about a third of
// the processor time before the first paint and needs nothing of the window: fontconfig reads its
// configuration files, then Qt builds its font database from fontconfig's font list.
//
// fontconfig's own set-up, which Qt calls, also reads every template in fontconfig's folder of available
// configuration files (only to describe them to fc-conflist): about as much work again as half the
// configuration itself. The thread makes the same configuration without the templates and makes it
// fontconfig's current one before Qt asks for it (when fontconfig is the one Qt's process has loaded, and
// FC_DEBUG is not set). What is shown does not change: the same configuration files, the same font list.
//
// With the configuration, the thread asks fontconfig which family it gives Chinese text (a sans-serif font in
// Simplified Chinese): the interface's font is made of it (platform/interface_font.h).
//
// Threads: made on the UI thread once the QApplication exists, destroyed there before it goes (the destructor
// waits for the thread). The UI thread calls WaitForConfiguration before its first use of a font: a font used
// before then could make fontconfig set itself up a second time, and would have its configuration replaced
// under it. Qt's font database, read next, needs no wait: its first use by the UI thread waits for it (Qt's
// lock).
#pragma once

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // Returns once fontconfig's configuration is current and its family for Chinese text known.
    void WaitForConfiguration();
    // The family fontconfig chooses for Chinese text, once the configuration is current; empty when
    // fontconfig has no font with Chinese glyphs (or is not the font library Qt uses).
    QString ChineseFamily();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable configured_cv_;
    bool configured_ = false;
    QString chinese_family_;
    std::thread thread_; // last: it starts once the rest is made
};
