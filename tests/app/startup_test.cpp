// Start-up of the real quorin program: the start screen without a user, a second copy with and without a
// class link, and a copy that crashed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "installation.h"
#include "platform/process.h"
#include "temp_dir.h"

namespace {
bool eventually_contains(const Installation& inst, const std::string& name, const std::string& text) {
    for (int waited = 0; waited < 5000; waited += 20) {
        if (inst.errors(name).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
} // namespace

TEST(Startup, WithoutAUserTheStartScreenShowsAndNothingConnects) {
    PortWatch port;
    Installation inst(port.port());
    for (const char* launch : {"", "subject=x&roomid=7"}) {
        SCOPED_TRACE(launch);
        pid_t pid = inst.start(launch[0] ? "with_room" : "first", launch, 300);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(wait_process(pid, 15000).value_or(-1), 0) << inst.errors("first");
        const std::string report = inst.report(launch[0] ? "with_room" : "first");
        EXPECT_NE(report.find("start_screen=1\n"), std::string::npos) << report;
        EXPECT_EQ(report.find("shown=1\n"), std::string::npos) << "no main window before a class is chosen";
    }
    EXPECT_EQ(port.accepted(), 0) << "no login without a user id";
}

TEST(Startup, TheSoundServersLibraryIsNotLoadedToShowAWindow) {
    // It comes with the sound file codecs, a few milliseconds before any window; the device lists open it
    // when they first ask the sound server.
    PortWatch port;
    Installation inst(port.port());
    const pid_t pid = inst.start("first", "", 20000);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(inst.wait_for_report("first", "start_screen=1", 15000)) << inst.errors("first");
    const std::string maps = read_file("/proc/" + std::to_string(pid) + "/maps");
    EXPECT_NE(maps.find("libQt6Widgets"), std::string::npos) << "the program's own map was read";
    EXPECT_EQ(maps.find("libpulse"), std::string::npos);
    terminate_process(pid);
}

TEST(Startup, TheSkinIsReadWithoutTheImagePlugInsAndTheIconComesAfterTheFirstPaint) {
    // The skin's pictures are read by Qt's own readers of their formats; asking the plug-ins for a format
    // would load every one of them before the first paint.
    PortWatch port;
    Installation inst(port.port());
    const fs::path built = QUORIN_INSTALL_DIR;
    fs::copy(built / "ui", inst.folder() + "/ui", fs::copy_options::overwrite_existing);
    fs::copy(built / "icons", inst.folder() + "/icons", fs::copy_options::recursive);
    const pid_t pid = inst.start("first", "userid=1&roomid=1", 20000);
    ASSERT_GT(pid, 0);
    ClientReaper reaper{pid, inst.folder()};
    ASSERT_TRUE(inst.wait_for_report("first", "painted=1", 15000)) << inst.errors("first");
    ASSERT_TRUE(inst.wait_for_report("first", "icon_sizes=", 5000)) << inst.report("first");
    EXPECT_NE(inst.report("first").find("icon_sizes=6\n"), std::string::npos) << "every size drawn";
    const std::string maps = read_file("/proc/" + std::to_string(pid) + "/maps");
    EXPECT_NE(maps.find("libQt6Widgets"), std::string::npos) << "the program's own map was read";
    EXPECT_EQ(maps.find("/imageformats/"), std::string::npos);
}

TEST(Startup, SecondCopyWithoutALinkShowsTheMessageRaisesTheFirstAndEnds) {
    PortWatch port;
    Installation inst(port.port());
    pid_t first = inst.start("first", "userid=1&roomid=1", 20000);
    ASSERT_TRUE(inst.wait_for_report("first", "shown=1", 15000)) << inst.errors("first");

    pid_t second = inst.start("second", "", 20000);
    ASSERT_EQ(wait_process(second, 15000).value_or(-1), 0);
    EXPECT_NE(inst.errors("second").find("message box [提示]: 客户端已经在运行，请先关闭或者稍候再试！"),
              std::string::npos)
        << inst.errors("second");
    EXPECT_EQ(inst.report("second"), "second_copy=1\n") << "no window in the second copy";
    EXPECT_TRUE(inst.wait_for_report("first", "raise_request=1", 5000)) << inst.report("first");
    terminate_process(first);
}

TEST(Startup, SecondCopyWithALinkHandsItToTheFirstAndEndsAtOnce) {
    PortWatch port;
    Installation inst(port.port());
    pid_t first = inst.start("first", "userid=1&roomid=1", 30000);
    ASSERT_TRUE(inst.wait_for_report("first", "shown=1", 15000)) << inst.errors("first");

    // The same class: the first comes to the front. The second copy ends by itself, with no window and no box
    // (a window would stay until its exit time, far later than the wait for the process).
    const auto started = std::chrono::steady_clock::now();
    pid_t same = inst.start("same", "quorin://join?userid=1&roomid=1", 600000);
    ASSERT_EQ(wait_process(same, 60000).value_or(-1), 0);
    std::printf("the second copy ended %.2f s after its start\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    EXPECT_EQ(inst.errors("same").find("message box"), std::string::npos)
        << "no box: " << inst.errors("same");
    EXPECT_EQ(inst.report("same"), "second_copy=1\nhanded_over=1\n");
    EXPECT_TRUE(inst.wait_for_report("first", "launch_request=1 1\n", 5000)) << inst.report("first");
    EXPECT_TRUE(inst.wait_for_report("first", "raise_request=1", 5000)) << inst.report("first");

    // Another class: the first asks (nobody answers here, so it stays) and the second copy does not wait.
    pid_t other = inst.start("other", "userid=2&roomid=9", 20000);
    ASSERT_EQ(wait_process(other, 15000).value_or(-1), 0);
    EXPECT_TRUE(inst.wait_for_report("first", "launch_request=2 9\n", 5000)) << inst.report("first");
    EXPECT_TRUE(eventually_contains(inst, "first", "question [提示]: 您正在另一个课堂中"));
    EXPECT_TRUE(process_running(first));
    EXPECT_EQ(inst.report("first").find("switch_class"), std::string::npos);
    terminate_process(first);
}

TEST(Startup, RunningCopyWithItsOwnTitleIsNotRaised) {
    PortWatch port;
    Installation inst(port.port());
    pid_t first = inst.start("first", "appname=Classroom&userid=1", 20000);
    ASSERT_TRUE(inst.wait_for_report("first", "shown=1", 15000)) << inst.errors("first");
    EXPECT_NE(inst.report("first").find("title=Classroom\n"), std::string::npos);

    pid_t second = inst.start("second", "", 20000);
    ASSERT_EQ(wait_process(second, 15000).value_or(-1), 0);
    EXPECT_NE(inst.errors("second").find("客户端已经在运行"), std::string::npos);
    // The request was delivered and answered before the second copy ended, so nothing more will come.
    EXPECT_EQ(inst.report("first").find("raise_request"), std::string::npos);
    terminate_process(first);
}

TEST(Startup, CopyThatCrashedDoesNotBlockTheNextStart) {
    PortWatch port;
    Installation inst(port.port());
    pid_t crashed = inst.start("crashed", "", 20000);
    ASSERT_TRUE(inst.wait_for_report("crashed", "start_screen=1", 15000)) << inst.errors("crashed");
    terminate_process(crashed); // SIGKILL: the lock and the socket file stay behind

    pid_t next = inst.start("next", "userid=3", 300);
    ASSERT_EQ(wait_process(next, 15000).value_or(-1), 0) << inst.errors("next");
    EXPECT_NE(inst.report("next").find("shown=1"), std::string::npos) << inst.report("next");
}
