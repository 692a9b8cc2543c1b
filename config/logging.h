// The client's log modules and the guarded write macros every part uses.
#pragma once

#include "components/log.h"

enum LogModule {
    kLogNone = 0,
    kLogMain = 1,
    kLogClient,
    kLogVideo,
    kLogTcpClient,
    kLogPptDlg,
    kLogCamera,
    kLogModuleCount
};

constexpr unsigned kLogLevel = 32;

// Writes one line of the session core (module "main") or of the video parts (module "video") at level 32,
// with the caller's source line, only when that module and level are enabled.
#define LOG_MAIN(...)                                                                                        \
    do {                                                                                                     \
        if (log_enable(kLogMain, kLogLevel))                                                                 \
            log_write(kLogMain, kLogLevel, __LINE__, __VA_ARGS__);                                           \
    } while (0)
#define LOG_VIDEO(...)                                                                                       \
    do {                                                                                                     \
        if (log_enable(kLogVideo, kLogLevel))                                                                \
            log_write(kLogVideo, kLogLevel, __LINE__, __VA_ARGS__);                                          \
    } while (0)
