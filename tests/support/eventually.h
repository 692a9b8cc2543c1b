// Waiting in tests for what another thread or process does: a condition tried until a deadline on the steady
// clock. Never a count of tries: on a loaded machine a try takes longer, and a count then waits too little.
#pragma once

#include <QCoreApplication>
#include <QTest>

#include <chrono>
#include <thread>

// True as soon as `done()` holds; false when it still does not hold at the deadline. Sleeps between tries,
// so no window or posted message of this thread runs meanwhile.
template <typename Pred> bool eventually(Pred done, int timeout_ms = 5000, int step_ms = 5) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
    }
    return true;
}

// The same, running this thread's Qt events between tries (for conditions that posted messages, timers or
// paints make true).
template <typename Pred> bool eventually_with_events(Pred done, int timeout_ms = 5000, int step_ms = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        QTest::qWait(step_ms);
    }
    return true;
}
