// Picture downloads with libcurl (see picture_download.h).
#include "roster/picture_download.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace download {

namespace {

struct Transfer {
    FILE* file = nullptr;
    long long written = 0;
    long long max_bytes = 0;
    bool too_large = false;
    bool write_failed = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->written + static_cast<long long>(n) > t->max_bytes) {
        t->too_large = true;
        return 0; // ends the transfer
    }
    if (std::fwrite(data, 1, n, t->file) != n) {
        t->write_failed = true;
        return 0;
    }
    t->written += static_cast<long long>(n);
    return n;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->cancel && t->cancel->load() ? 1 : 0; // non-zero aborts
}

bool global_ready() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

} // namespace

int DownloadToFile(const std::string& url, const std::string& path, const Limits& limits,
                   const std::atomic<bool>* cancel) {
    if (!global_ready())
        return kOffline;
    CURL* curl = curl_easy_init();
    if (!curl)
        return kOffline;
    const std::string partial = path + ".part" + std::to_string(getpid());
    Transfer t;
    t.max_bytes = limits.max_bytes;
    t.cancel = cancel;
    t.file = std::fopen(partial.c_str(), "wb");
    if (!t.file) {
        curl_easy_cleanup(curl);
        return kFileFailed;
    }
    curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_timeout_ms);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.low_speed_seconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.total_timeout_ms);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "quorin");

    // The multi interface waits at most 50 ms at a time, so a cancel ends even a stalled transfer at once
    // (the easy interface looks at its progress callback only about once a second while nothing arrives).
    CURLcode code = CURLE_OK;
    if (CURLM* multi = curl_multi_init()) {
        curl_multi_add_handle(multi, curl);
        int running = 1;
        bool cancelled = false;
        while (running) {
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                break;
            if (cancel && cancel->load()) {
                cancelled = true;
                break;
            }
            if (running)
                curl_multi_poll(multi, nullptr, 0, 50, nullptr);
        }
        int left = 0;
        code = cancelled ? CURLE_ABORTED_BY_CALLBACK : CURLE_OK;
        while (CURLMsg* m = curl_multi_info_read(multi, &left))
            if (m->msg == CURLMSG_DONE && !cancelled)
                code = m->data.result;
        curl_multi_remove_handle(multi, curl);
        curl_multi_cleanup(multi);
    } else {
        code = curl_easy_perform(curl);
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    const bool closed = std::fclose(t.file) == 0;

    int result = kStored;
    if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_CONNECT ||
        code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_URL_MALFORMAT ||
        code == CURLE_TOO_MANY_REDIRECTS ||
        (code == CURLE_OPERATION_TIMEDOUT && status == 0 && t.written == 0 && !(cancel && cancel->load())))
        result = kUrlFailed;
    else if (t.write_failed || !closed)
        result = kFileFailed;
    else if (code != CURLE_OK)
        result = kReadFailed;
    else if (status < 200 || status > 299)
        result = kUrlFailed; // an error page is not the picture
    if (result == kStored && std::rename(partial.c_str(), path.c_str()) != 0)
        result = kFileFailed;
    if (result != kStored)
        std::remove(partial.c_str());
    return result;
}

} // namespace download
