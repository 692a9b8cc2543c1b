// Start-up of the real quorin program: headless first start, a second copy, and a copy that crashed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "process.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A listening socket on a free loopback port that counts the connections it is offered.
class PortWatch {
public:
    PortWatch() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd_, 4);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~PortWatch() { close(fd_); }
    int port() const { return port_; }
    int accepted() {
        int n = 0;
        for (int c; (c = accept(fd_, nullptr, nullptr)) >= 0; ++n)
            close(c);
        return n;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A private install folder holding a copy of the built client and its data, and a private runtime folder.
class Installation {
public:
    explicit Installation(int port) {
        const fs::path built = QUORIN_INSTALL_DIR;
        fs::copy_file(built / "quorin", dir_.path() / "quorin");
        fs::create_directories(dir_.path() / "ui");
        fs::copy_file(built / "ui" / "cfg.txt", dir_.path() / "ui" / "cfg.txt");
        fs::create_directories(dir_.path() / "log");
        fs::create_directories(dir_.path() / "run");
        fs::permissions(dir_.path() / "run", fs::perms::owner_all);
        write_file(dir_.file("user.txt"), "[network]\nport=" + std::to_string(port) + "\n");
    }
    std::string file(const std::string& name) const { return dir_.file(name); }

    // Starts the client with a launch string; its standard error goes to `name`.err, its report to `name`.rep.
    pid_t start(const std::string& name, const std::string& launch, int exit_after_ms) {
        std::string cmd = "exec ./quorin " + launch + " 2>" + name + ".err";
        return spawn_process("/bin/sh", {"-c", cmd}, dir_.path().string(),
                             {"QT_QPA_PLATFORM=offscreen", "QUORIN_NONINTERACTIVE=1",
                              "XDG_RUNTIME_DIR=" + dir_.file("run"), "QUORIN_REPORT=" + dir_.file(name + ".rep"),
                              "QUORIN_EXIT_AFTER_MS=" + std::to_string(exit_after_ms)});
    }
    std::string report(const std::string& name) const { return read_file(dir_.file(name + ".rep")); }
    std::string errors(const std::string& name) const { return read_file(dir_.file(name + ".err")); }

    bool wait_for_report(const std::string& name, const std::string& line, int timeout_ms) const {
        for (int waited = 0; waited < timeout_ms; waited += 10) {
            if (report(name).find(line) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    TempDir dir_;
};

} // namespace

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
