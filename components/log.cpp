// The logging library. Callers format their line and queue it under a short lock; one writer thread
// appends queued lines to the day's file and flushes after each batch, so no caller waits for the disk.
#include "components/log.h"

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kMaxModules = 32;
// Lines queued beyond this while the disk stalls are counted and reported instead of kept.
constexpr size_t kMaxQueued = 20000;

struct Line {
    bool access;
    std::tm day;
    std::string text;
};

struct LogState {
    std::mutex mutex;
    std::condition_variable wake;
    bool ready = false;
    bool stopping = false;
    std::string folder;
    std::string debug_pattern = "%yyyy_%MM%dd.log";
    std::string access_pattern = "access_%yyyy%MM%dd.log";
    std::string line_format = "%d_%t: %s";
    std::array<unsigned, kMaxModules> masks{};
    std::vector<std::string> modules;
    std::deque<Line> queue;
    size_t dropped = 0;
    std::thread writer;
    ~LogState();
};

LogState& state() {
    static LogState s;
    return s;
}

std::string expand_file_name(const std::string& pattern, const std::tm& day) {
    std::string out;
    char buf[16];
    for (size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, 5, "%yyyy") == 0) {
            std::snprintf(buf, sizeof buf, "%04d", day.tm_year + 1900);
            out += buf;
            i += 5;
        } else if (pattern.compare(i, 3, "%MM") == 0) {
            std::snprintf(buf, sizeof buf, "%02d", day.tm_mon + 1);
            out += buf;
            i += 3;
        } else if (pattern.compare(i, 3, "%dd") == 0) {
            std::snprintf(buf, sizeof buf, "%02d", day.tm_mday);
            out += buf;
            i += 3;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

// One open file per kind, reopened when the day's name changes.
struct OpenFile {
    std::string name;
    FILE* fp = nullptr;
    void close() {
        if (fp)
            std::fclose(fp);
        fp = nullptr;
        name.clear();
    }
    FILE* for_name(const std::string& wanted) {
        if (fp && name == wanted)
            return fp;
        close();
        fp = std::fopen(wanted.c_str(), "ab");
        if (fp)
            name = wanted;
        return fp;
    }
};

// A process that ends without log_free still gets its queued lines written.
LogState::~LogState() {
    {
        std::lock_guard lock(mutex);
        ready = false;
        stopping = true;
    }
    wake.notify_one();
    if (writer.joinable())
        writer.join();
}

void writer_loop() {
    LogState& s = state();
    OpenFile debug_file, access_file;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&] { return s.stopping || !s.queue.empty(); });
        std::deque<Line> batch;
        batch.swap(s.queue);
        size_t dropped = s.dropped;
        s.dropped = 0;
        const bool stop = s.stopping;
        const std::string folder = s.folder, debug_pattern = s.debug_pattern,
                          access_pattern = s.access_pattern;
        lock.unlock();

        for (const Line& line : batch) {
            OpenFile& f = line.access ? access_file : debug_file;
            const std::string& pattern = line.access ? access_pattern : debug_pattern;
            FILE* fp = f.for_name(folder + "/" + expand_file_name(pattern, line.day));
            if (!fp)
                continue;
            if (dropped) {
                std::fprintf(fp, "(%zu log lines dropped while the disk was slow)\n", dropped);
                dropped = 0;
            }
            std::fwrite(line.text.data(), 1, line.text.size(), fp);
        }
        if (debug_file.fp)
            std::fflush(debug_file.fp);
        if (access_file.fp)
            std::fflush(access_file.fp);

        lock.lock();
        if (stop && s.queue.empty())
            break;
    }
    debug_file.close();
    access_file.close();
}

std::string format_line(const std::string& format, const std::tm& now, int millis, const std::string& module,
                        int source_line, const std::string& message) {
    std::string out;
    char buf[32];
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        switch (format[++i]) {
        case 'd':
            std::strftime(buf, sizeof buf, "%Y-%m-%d", &now);
            out += buf;
            break;
        case 't':
            std::strftime(buf, sizeof buf, "%H:%M:%S", &now);
            out += buf;
            std::snprintf(buf, sizeof buf, ".%03d", millis);
            out += buf;
            break;
        case 's':
            out += message;
            break;
        case 'm':
            out += module;
            break;
        case 'l':
            out += std::to_string(source_line);
            break;
        default:
            out += format[i];
            break;
        }
    }
    if (out.empty() || out.back() != '\n')
        out += '\n';
    return out;
}

} // namespace

int log_init(const char* folder) {
    struct stat st {};
    if (!folder || stat(folder, &st) != 0 || !S_ISDIR(st.st_mode))
        return 0;
    log_free();
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.folder = folder;
    while (!s.folder.empty() && s.folder.size() > 1 && s.folder.back() == '/')
        s.folder.pop_back();
    s.masks.fill(0);
    s.stopping = false;
    s.ready = true;
    s.writer = std::thread(writer_loop);
    return 1;
}

void log_setmodules(const char* const* names, int count) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.modules.clear();
    for (int i = 0; names && i < count && i < kMaxModules; ++i)
        s.modules.emplace_back(names[i] ? names[i] : "");
}

void log_setdebugfname(const char* pattern) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (pattern && *pattern)
        s.debug_pattern = pattern;
}

void log_setaccessfname(const char* pattern) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (pattern && *pattern)
        s.access_pattern = pattern;
}

void log_setlevel(int module, unsigned level_mask, const char* line_format) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (module == 0)
        s.masks.fill(level_mask);
    else if (module > 0 && module < kMaxModules)
        s.masks[module] = level_mask;
    if (line_format && *line_format)
        s.line_format = line_format;
}

bool log_enable(int module, unsigned level) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    return s.ready && module >= 0 && module < kMaxModules && (s.masks[module] & level) != 0;
}

void log_vwrite(int module, unsigned level, int source_line, const char* format, va_list args) {
    if (!format || !log_enable(module, level))
        return;
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0)
        return;
    std::string message(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(message.data(), message.size(), format, args);
    message.resize(static_cast<size_t>(n));

    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    int millis =
        int(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&t, &local);

    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.ready)
        return;
    if (s.queue.size() >= kMaxQueued) {
        ++s.dropped;
        return;
    }
    std::string name = module < int(s.modules.size()) ? s.modules[module] : std::to_string(module);
    s.queue.push_back({(level & LOG_LEVEL_ACCESS) != 0, local,
                       format_line(s.line_format, local, millis, name, source_line, message)});
    s.wake.notify_one();
}

void log_write(int module, unsigned level, int source_line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log_vwrite(module, level, source_line, format, args);
    va_end(args);
}

void log_free() {
    LogState& s = state();
    std::thread writer;
    {
        std::lock_guard lock(s.mutex);
        if (!s.ready)
            return;
        s.ready = false;
        s.stopping = true;
        writer.swap(s.writer);
    }
    s.wake.notify_one();
    if (writer.joinable())
        writer.join();
}
