// The thread rule: windows, panels and the session's dispatch run on the UI thread only. The application
// claims the UI thread at start-up, and so does the test main; entry points assert it (a thread that never
// claimed passes, so plain logic tests need no set-up). The assertion does not depend on NDEBUG: it is on
// unless the build turns QUORIN_THREAD_CHECKS off, so the tests of the usual build run with it.
#pragma once

namespace ui_thread {

// Marks the calling thread as the UI thread.
void claim();
// True on the UI thread, or when no thread has claimed it.
bool here();
// Says which call broke the rule, on standard error, and aborts.
[[noreturn]] void violated(const char* file, int line, const char* function);

} // namespace ui_thread

#ifdef QUORIN_THREAD_CHECKS
#define ASSERT_UI_THREAD() (ui_thread::here() ? void(0) : ui_thread::violated(__FILE__, __LINE__, __func__))
#else
#define ASSERT_UI_THREAD() void(0)
#endif
