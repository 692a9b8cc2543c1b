// Reconnecting after a lost link: how long to wait before each attempt, and the attempt itself, which runs
// off the UI thread (stopping and starting the service and connecting can take seconds).
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Waits before reconnect attempts: none before the first, then 1, 2, 4, ... seconds up to 30. Reset after a
// login succeeds, so a peer that accepts and drops at once is not hammered.
class ReconnectBackoff {
public:
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kMaxDelayMs = 30000;

    // `attempts_per_step`: how many attempts wait as long before the wait doubles (more keeps the first
    // attempts close together, so a short outage ends soon, and still backs off a long one).
    explicit ReconnectBackoff(int max_delay_ms = kMaxDelayMs, int attempts_per_step = 1)
        : max_delay_ms_(max_delay_ms), attempts_per_step_(attempts_per_step < 1 ? 1 : attempts_per_step) {}
    // The wait before the next attempt; counts the attempt.
    int NextDelayMs();
    void Reset() { attempts_ = 0; }
    int attempts() const { return attempts_; }

private:
    int attempts_ = 0;
    int max_delay_ms_;
    int attempts_per_step_;
};

// Runs one job at a time on a thread of its own after a delay. Cancel() wakes a waiting job, which then does
// not run; a job that already runs is waited for. A job's thread ends a little after the job has told its
// owner its outcome, so the owner keeps its own "an attempt is pending" state rather than asking Busy().
class DelayedJob {
public:
    DelayedJob() = default;
    ~DelayedJob();
    DelayedJob(const DelayedJob&) = delete;
    DelayedJob& operator=(const DelayedJob&) = delete;

    // Starts `job` after `delay_ms`; false when the previous job still waits for its delay. A previous job
    // that has begun is waited for first (start the next one only after this one reported).
    bool Start(int delay_ms, std::function<void()> job);
    // A job waits or runs (its thread has not finished it yet).
    bool Busy() const;
    // Drops a job that waits, waits for one that runs.
    void Cancel();

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
    bool busy_ = false;
    bool waiting_ = false;
    bool cancelled_ = false;
};
