// Hooks for tests and headless runs, all off unless set in the environment:
//   QUORIN_EXIT_AFTER_MS  close the main window this long after start-up
//   QUORIN_SCREENSHOT     save the main window as a PNG just before it closes
//   QUORIN_REPORT         append "key=value" lines about the run (title, shown, raise requests) to this file
#pragma once

#include <QString>

class QWidget;

namespace test_hooks {

// Appends one "key=value" line to the report file, when one is set.
void report(const QString& key, const QString& value);

// Arms the exit timer and the screenshot for the main window, when set.
void arm_main_window(QWidget* window);

} // namespace test_hooks
