// The service's log (see service_log.h).
#include "service/service_log.h"

#include <cstdio>

#include "components/log.h"

void service_log(const std::string& line) {
    std::fprintf(stderr, "velmor: %s\n", line.c_str());
    if (log_enable(1, 32))
        log_write(1, 32, __LINE__, "%s\n", line.c_str());
}

int64_t steady_now_ms(const std::function<int64_t()>& clock) {
    if (clock)
        return clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool KindLimiter::allow(const std::string& kind) {
    const auto now = std::chrono::steady_clock::now();
    auto& last = last_[kind];
    if (now - last < std::chrono::seconds(1))
        return false;
    last = now;
    return true;
}

void UnauthenticatedLog::write(const std::string& line, int64_t now_ms, const LogLine& out) {
    std::lock_guard lock(mutex_);
    if (now_ms - last_ms_ < 1000) {
        ++unlogged_;
        return;
    }
    if (out)
        out(line + (unlogged_ ? " (and " + std::to_string(unlogged_) +
                                    " more before a login since the last such line)"
                              : ""));
    last_ms_ = now_ms;
    unlogged_ = 0;
}
