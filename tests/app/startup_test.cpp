// Start-up of the real quorin program: headless first start, a second copy, and a copy that crashed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "installation.h"
#include "platform/process.h"
#include "temp_dir.h"

TEST(Startup, WithoutLaunchStringOpensUnderTheDefaultTitleAndNeverConnects) {
    PortWatch port;
    Installation inst(port.port());
    pid_t pid = inst.start("first", "", 300);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(wait_process(pid, 15000).value_or(-1), 0) << inst.errors("first");
    const std::string report = inst.report("first");
    EXPECT_NE(report.find("shown=1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("title=Lumeno视频社区\n"), std::string::npos) << report;
    EXPECT_EQ(port.accepted(), 0) << "no login without a user id";
    bool logged = false;
    for (auto& e : fs::directory_iterator(fs::path(inst.file("log"))))
        logged = logged || read_file(e.path().string()).find("log_init ok") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST(Startup, SecondCopyShowsTheMessageRaisesTheFirstAndEnds) {
    PortWatch port;
    Installation inst(port.port());
    pid_t first = inst.start("first", "", 20000);
    ASSERT_TRUE(inst.wait_for_report("first", "shown=1", 15000)) << inst.errors("first");

    pid_t second = inst.start("second", "userid=5", 20000);
    ASSERT_EQ(wait_process(second, 15000).value_or(-1), 0);
    EXPECT_NE(inst.errors("second").find("message box [提示]: 客户端已经在运行，请先关闭或者稍候再试！"),
              std::string::npos)
        << inst.errors("second");
    EXPECT_EQ(inst.report("second"), "second_copy=1\n") << "no window in the second copy";
    EXPECT_TRUE(inst.wait_for_report("first", "raise_request=1", 5000)) << inst.report("first");
    EXPECT_EQ(port.accepted(), 0);

    terminate_process(first);
}

TEST(Startup, RunningCopyWithItsOwnTitleIsNotRaised) {
    PortWatch port;
    Installation inst(port.port());
    pid_t first = inst.start("first", "appname=Classroom", 20000);
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
    ASSERT_TRUE(inst.wait_for_report("crashed", "shown=1", 15000)) << inst.errors("crashed");
    terminate_process(crashed); // SIGKILL: the lock and the socket file stay behind

    pid_t next = inst.start("next", "", 300);
    ASSERT_EQ(wait_process(next, 15000).value_or(-1), 0) << inst.errors("next");
    EXPECT_NE(inst.report("next").find("shown=1"), std::string::npos) << inst.report("next");
}
