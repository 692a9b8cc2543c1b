// The thread rule: windows, panels and the session's dispatch run on the UI thread only. The application
// claims the UI thread at start-up; entry points assert it in debug builds (a thread that never claimed
// passes, so plain logic tests need no set-up).
#pragma once

#include <cassert>

namespace ui_thread {

// Marks the calling thread as the UI thread.
void claim();
// True on the UI thread, or when no thread has claimed it.
bool here();

} // namespace ui_thread

#define ASSERT_UI_THREAD() assert(ui_thread::here())
