// The service's log: its lines, and the limits that keep floods of alike lines out of it. Every limiter is
// called on the I/O thread of the server that owns it only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

// Writes a line to standard error and, when logging is set up, to the service's log.
void service_log(const std::string& line);

using LogLine = std::function<void(const std::string&)>;

// Milliseconds of `clock` when set (tests), otherwise of the steady clock.
int64_t steady_now_ms(const std::function<int64_t()>& clock);

// A line at most once a second for a kind of event (floods of refused connections, accept errors); the
// others are left out.
class KindLimiter {
public:
    // True when a line of `kind` may be written now (and counts it as written).
    bool allow(const std::string& kind);

private:
    std::map<std::string, std::chrono::steady_clock::time_point> last_;
};

// Lines about connections that have not logged in (drops, closes, refusals): one a second for all of them,
// whatever the number of connections or addresses, with a count of the ones left out in the next line.
// Thread-safe: the room threads of one server share one (the line is written under its lock).
class UnauthenticatedLog {
public:
    // `now_ms`: a steady clock in milliseconds.
    void write(const std::string& line, int64_t now_ms, const LogLine& out);

private:
    std::mutex mutex_;
    int64_t last_ms_ = -1000000;
    uint64_t unlogged_ = 0;
};
