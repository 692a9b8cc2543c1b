// Picture downloads with libcurl (see picture_download.h).
#include "roster/picture_download.h"

// The calls are made through pointers, which the header's argument-checking macros would not let through.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <type_traits>

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

// libcurl is opened at the first download, not when the program starts: it and the two dozen libraries it
// needs (TLS, Kerberos, LDAP, SSH ...), every one resolved at load, cost the start of the client about as
// much processor time as the whole of Qt Widgets, for pictures that are fetched later on a worker thread
// anyway.
struct Curl {
#define QUORIN_CURL_CALL(name) decltype(&::name) name = nullptr
    QUORIN_CURL_CALL(curl_global_init);
    QUORIN_CURL_CALL(curl_easy_init);
    QUORIN_CURL_CALL(curl_easy_cleanup);
    QUORIN_CURL_CALL(curl_easy_setopt);
    QUORIN_CURL_CALL(curl_easy_perform);
    QUORIN_CURL_CALL(curl_easy_getinfo);
    QUORIN_CURL_CALL(curl_slist_append);
    QUORIN_CURL_CALL(curl_slist_free_all);
    QUORIN_CURL_CALL(curl_multi_init);
    QUORIN_CURL_CALL(curl_multi_add_handle);
    QUORIN_CURL_CALL(curl_multi_perform);
    QUORIN_CURL_CALL(curl_multi_poll);
    QUORIN_CURL_CALL(curl_multi_info_read);
    QUORIN_CURL_CALL(curl_multi_remove_handle);
    QUORIN_CURL_CALL(curl_multi_cleanup);
#undef QUORIN_CURL_CALL
};

bool load(Curl& c) {
    // The soname of the headers built against (libcurl has kept version 4 since 2006).
    void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "pictures: cannot open libcurl: %s\n", dlerror());
        return false;
    }
    bool complete = true;
    auto find = [&](auto& call, const char* name) {
        call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(handle, name));
        if (!call) {
            std::fprintf(stderr, "pictures: libcurl lacks %s\n", name);
            complete = false;
        }
    };
    find(c.curl_global_init, "curl_global_init");
    find(c.curl_easy_init, "curl_easy_init");
    find(c.curl_easy_cleanup, "curl_easy_cleanup");
    find(c.curl_easy_setopt, "curl_easy_setopt");
    find(c.curl_easy_perform, "curl_easy_perform");
    find(c.curl_easy_getinfo, "curl_easy_getinfo");
    find(c.curl_slist_append, "curl_slist_append");
    find(c.curl_slist_free_all, "curl_slist_free_all");
    find(c.curl_multi_init, "curl_multi_init");
    find(c.curl_multi_add_handle, "curl_multi_add_handle");
    find(c.curl_multi_perform, "curl_multi_perform");
    find(c.curl_multi_poll, "curl_multi_poll");
    find(c.curl_multi_info_read, "curl_multi_info_read");
    find(c.curl_multi_remove_handle, "curl_multi_remove_handle");
    find(c.curl_multi_cleanup, "curl_multi_cleanup");
    // The library stays open for the life of the process.
    return complete && c.curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

// The library, opened and set up once; null when it cannot be (every download then reports offline).
const Curl* curl_library() {
    static const Curl* const loaded = [] {
        static Curl c;
        return load(c) ? &c : nullptr;
    }();
    return loaded;
}

// The request: the headers it sends (freed by the caller after the transfer), where it may go, how long it
// may take and where the body goes.
curl_slist* set_options(const Curl& c, CURL* curl, const std::string& url, const Limits& limits,
                        Transfer& t) {
    curl_slist* headers = c.curl_slist_append(nullptr, "Accept: */*");
    headers = c.curl_slist_append(headers, "Cache-Control: no-cache");
    headers = c.curl_slist_append(headers, "Pragma: no-cache");
    c.curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    c.curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    c.curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    c.curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    c.curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    c.curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    c.curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_timeout_ms);
    c.curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes);
    c.curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.low_speed_seconds);
    c.curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, limits.total_timeout_ms);
    c.curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
    c.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_body);
    c.curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    c.curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress);
    c.curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    c.curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    c.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    c.curl_easy_setopt(curl, CURLOPT_USERAGENT, "quorin");
    return headers;
}

// Runs the transfer to its end, or until `cancel` is set.
CURLcode perform(const Curl& c, CURL* curl, const std::atomic<bool>* cancel) {
    // The multi interface waits at most 50 ms at a time, so a cancel ends even a stalled transfer at once
    // (the easy interface looks at its progress callback only about once a second while nothing arrives).
    CURLM* multi = c.curl_multi_init();
    if (!multi)
        return c.curl_easy_perform(curl);
    c.curl_multi_add_handle(multi, curl);
    int running = 1;
    bool cancelled = false;
    while (running) {
        if (c.curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (cancel && cancel->load()) {
            cancelled = true;
            break;
        }
        if (running)
            c.curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    int left = 0;
    CURLcode code = cancelled ? CURLE_ABORTED_BY_CALLBACK : CURLE_OK;
    while (CURLMsg* m = c.curl_multi_info_read(multi, &left))
        if (m->msg == CURLMSG_DONE && !cancelled)
            code = m->data.result;
    c.curl_multi_remove_handle(multi, curl);
    c.curl_multi_cleanup(multi);
    return code;
}

// What the transfer's outcome means for the caller.
int result_of(CURLcode code, long status, const Transfer& t, bool closed) {
    const bool cancelled = t.cancel && t.cancel->load();
    if (code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_CONNECT ||
        code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_URL_MALFORMAT ||
        code == CURLE_TOO_MANY_REDIRECTS ||
        (code == CURLE_OPERATION_TIMEDOUT && status == 0 && t.written == 0 && !cancelled))
        return kUrlFailed;
    if (t.write_failed || !closed)
        return kFileFailed;
    if (code != CURLE_OK)
        return kReadFailed;
    if (status < 200 || status > 299)
        return kUrlFailed; // an error page is not the picture
    return kStored;
}

} // namespace

int DownloadToFile(const std::string& url, const std::string& path, const Limits& limits,
                   const std::atomic<bool>* cancel) {
    const Curl* lib = curl_library();
    if (!lib)
        return kOffline;
    const Curl& c = *lib;
    CURL* curl = c.curl_easy_init();
    if (!curl)
        return kOffline;
    const std::string partial = path + ".part" + std::to_string(getpid());
    Transfer t;
    t.max_bytes = limits.max_bytes;
    t.cancel = cancel;
    t.file = std::fopen(partial.c_str(), "wb");
    if (!t.file) {
        c.curl_easy_cleanup(curl);
        return kFileFailed;
    }
    curl_slist* headers = set_options(c, curl, url, limits, t);
    const CURLcode code = perform(c, curl, cancel);
    long status = 0;
    c.curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    c.curl_slist_free_all(headers);
    c.curl_easy_cleanup(curl);
    const bool closed = std::fclose(t.file) == 0;

    int result = result_of(code, status, t, closed);
    if (result == kStored && std::rename(partial.c_str(), path.c_str()) != 0)
        result = kFileFailed;
    if (result != kStored)
        std::remove(partial.c_str());
    return result;
}

} // namespace download
