// The thread rule (see thread_rule.h).
#include "platform/thread_rule.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {
std::atomic<bool> claimed{false};
std::thread::id owner;
} // namespace

namespace ui_thread {

void claim() {
    owner = std::this_thread::get_id();
    claimed.store(true, std::memory_order_release);
}

bool here() {
    return !claimed.load(std::memory_order_acquire) || owner == std::this_thread::get_id();
}

void violated(const char* file, int line, const char* function) {
    std::fprintf(stderr, "%s:%d: %s called off the UI thread\n", file, line, function);
    std::fflush(stderr);
    std::abort();
}

} // namespace ui_thread
