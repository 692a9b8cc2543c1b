// Hooks for tests and headless runs, all off unless set in the environment:
//   QUORIN_EXIT_AFTER_MS  close the main window this long after start-up
//   QUORIN_EXIT_FILE      with QUORIN_EXIT_AFTER_MS, close the main window as soon as this file exists
//                         (looked for every 100 ms): a test that waits for what it wants on the screen
//                         closes the client then, and the time limit is only the latest
//   QUORIN_SCREENSHOT     save the main window as a PNG just before it closes
//   QUORIN_REPORT         append "key=value" lines about the run (title, shown, raise requests; what the
//                         panels showed, through app/RunReport) to this file
//   QUORIN_REPORT_TEXTS   with 1, report the window's texts (labels, buttons, tool tips, accessible names,
//                         text boxes) just before it closes
//   QUORIN_WATCH_CAMERAS  open the pictures of up to this many users whose cameras are on, as a click would
//                         (the headless demo shows a remote camera with nobody to click; app/RunReport)
//   QUORIN_WIDGETS        keep this file listing where the visible windows and named controls are on the
//                         screen, so that a test on a real desktop knows where to click
//   QUORIN_PAINT_AGES     append to this file the age in milliseconds of the test camera's stamp in every new
//                         picture a video window paints, one a line (video/VideoPicture.cpp)
#pragma once

#include <QString>

class QWidget;

namespace test_hooks {

// Appends one "key=value" line to the report file, when one is set. Any thread: each line is one append.
void report(const QString& key, const QString& value);

// Whether a report file is set.
bool reporting();

// How many remote cameras to open without a click (0 when not set).
int auto_watch_cameras();

// Reports every text a person can read in the window ("text=", "tip=", "name=" lines).
void report_texts(QWidget* window);

// Arms the exit timer (and the exit file) and the screenshot for the main window, when set.
void arm_main_window(QWidget* window);

// Starts keeping the widget list of QUORIN_WIDGETS, when set: one line per visible window and per visible
// control that has an object name, a control id or (buttons) a text: "path x y width height" in screen
// coordinates, where the path joins the names of the named ancestors with '/'; and a line "focus:path ..."
// for the control that has the keyboard focus.
void arm_widget_list();

} // namespace test_hooks
