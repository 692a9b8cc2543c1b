// Downloads one user picture over HTTP into a file, with libcurl. The body goes to a temporary file beside
// the destination that is renamed into place only when the whole body arrived with a 2xx status, so a
// partial or error page is never read as a picture. Plain C++; runs on the picture worker thread.
#pragma once

#include <atomic>
#include <string>

namespace download {

// The results of DownloadToFile.
enum Result : int {
    kStored = 0,     // the whole body is in the file
    kUrlFailed = 1,  // the URL could not be opened, or the server answered with a status other than 2xx
    kFileFailed = 2, // the local file could not be created
    kReadFailed = 3, // the transfer broke off, stalled, took too long, was too large or was cancelled;
                     // nothing is kept
    kOffline = 4, // no network session could be had
};

struct Limits {
    long connect_timeout_ms = 10000;
    // Abort when fewer than `low_speed_bytes` a second arrive for `low_speed_seconds`.
    long low_speed_bytes = 1;
    long low_speed_seconds = 20;
    // The whole transfer, however it goes: a host that drips a byte now and then must not hold the one
    // download worker (and every picture after it) for longer.
    long total_timeout_ms = 30000;
    // A user picture is small; anything larger is not one.
    long long max_bytes = 4 << 20;
};

// `cancel`, when set by another thread, ends a running transfer at once (result kReadFailed).
int DownloadToFile(const std::string& url, const std::string& path, const Limits& limits = {},
                   const std::atomic<bool>* cancel = nullptr);

} // namespace download
