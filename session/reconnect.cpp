// Reconnect timing and the background attempt (see reconnect.h).
#include "session/reconnect.h"

#include <algorithm>
#include <chrono>

int ReconnectBackoff::NextDelayMs() {
    const int n = attempts_++;
    if (n == 0)
        return 0;
    // 1 s doubled per further attempt; the shift stays small so it cannot overflow.
    const int shift = std::min((n - 1) / attempts_per_step_, 5);
    return std::min(kFirstDelayMs << shift, max_delay_ms_);
}

DelayedJob::~DelayedJob() {
    Cancel();
}

bool DelayedJob::Start(int delay_ms, std::function<void()> job) {
    std::unique_lock lock(mutex_);
    if (waiting_)
        return false;
    if (thread_.joinable()) {
        // The previous job has begun; its owner starts the next one only after it reported, so what is left
        // of it is short.
        lock.unlock();
        thread_.join();
        lock.lock();
    }
    busy_ = true;
    waiting_ = true;
    cancelled_ = false;
    thread_ = std::thread([this, delay_ms, job = std::move(job)] {
        {
            std::unique_lock wait(mutex_);
            cv_.wait_for(wait, std::chrono::milliseconds(delay_ms), [this] { return cancelled_; });
            waiting_ = false;
            if (cancelled_) {
                busy_ = false;
                return;
            }
        }
        job();
        std::lock_guard done(mutex_);
        busy_ = false;
    });
    return true;
}

bool DelayedJob::Busy() const {
    std::lock_guard lock(mutex_);
    return busy_;
}

void DelayedJob::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}
