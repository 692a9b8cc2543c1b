// The one timer that ticks every kept-alive link of an owner (a server's connections, a relay's links to its
// room servers): it runs while some link wants ticks, as often as the most demanding one wants. Made, used
// and destroyed on the owner's I/O thread. A wait that had already completed when the timer was destroyed
// still runs its tick: the owner must outlive the I/O loop's last run (owners are destroyed after it stops).
#pragma once

#include <asio.hpp>

#include <algorithm>
#include <chrono>
#include <functional>

class KeepAliveTimer {
public:
    // The timer never ticks more often than this.
    static constexpr int kShortestTickMs = 100;
    // `tick` is called at each tick and answers how long until the next one is wanted (0: none).
    KeepAliveTimer(asio::io_context& io, std::function<int()> tick) : timer_(io), tick_(std::move(tick)) {}

    // The next tick in `ms` at the most: a shorter wait replaces a longer one, a longer one waits for the
    // tick already due.
    void want(int ms) {
        ms = std::max(ms, kShortestTickMs);
        if (armed_ && ms >= wait_ms_)
            return;
        wait_ms_ = ms;
        armed_ = true;
        timer_.expires_after(std::chrono::milliseconds(ms));
        timer_.async_wait([this](std::error_code ec) {
            if (ec)
                return;
            armed_ = false;
            if (const int next = tick_(); next > 0)
                want(next);
        });
    }
    void cancel() {
        timer_.cancel();
        armed_ = false;
    }

private:
    asio::steady_timer timer_;
    std::function<int()> tick_;
    bool armed_ = false;
    int wait_ms_ = 0;
};
