// The thread rule (see thread_rule.h).
#include "platform/thread_rule.h"

#include <atomic>
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

} // namespace ui_thread
