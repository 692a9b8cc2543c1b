// ALSA's messages as one log line (see alsa_messages.h).
#include "components/alsa_messages.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<void (*)(const char*)> g_line{nullptr};
std::atomic<uint64_t> g_seen{0};

void on_alsa_message(const char* file, int line, const char* function, int err, const char* fmt, ...) {
    (void)file;
    (void)line;
    if (g_seen.fetch_add(1) != 0)
        return;
    char said[400];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(said, sizeof said, fmt, args);
    va_end(args);
    // Some of ALSA's plug-ins end their messages with a line break of their own.
    for (size_t n = std::strlen(said); n > 0 && (said[n - 1] == '\n' || said[n - 1] == ' '); --n)
        said[n - 1] = '\0';
    char text[600];
    std::snprintf(text, sizeof text, "ALSA: %s%s%s (%s); its later messages are left out", said,
                  err != 0 ? ": " : "", err != 0 ? snd_strerror(err) : "", function ? function : "");
    if (auto* out = g_line.load())
        out(text);
}

} // namespace

void route_alsa_messages(void (*line)(const char* text)) {
    if (const char* all = std::getenv("QUORIN_ALSA_MESSAGES"); all && std::strcmp(all, "all") == 0)
        return;
    void (*none)(const char*) = nullptr;
    if (!line || !g_line.compare_exchange_strong(none, line))
        return;
    snd_lib_error_set_handler(&on_alsa_message);
}

uint64_t alsa_messages_seen() {
    return g_seen.load();
}
