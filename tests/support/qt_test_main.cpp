// Test main: a headless QApplication for every test program, so widget and event tests run anywhere.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/thread_rule.h"

int main(int argc, char** argv) {
    // Test discovery runs the program without the test environment.
    setenv("QT_QPA_PLATFORM", QUORIN_TEST_QPA, 0);
    setenv("QUORIN_NONINTERACTIVE", "1", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // As the application does: the UI-thread assertions then catch a call from any other thread.
    ui_thread::claim();
    return RUN_ALL_TESTS();
}
