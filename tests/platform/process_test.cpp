// Processes: start in a folder with extra environment, wait with a time limit, terminate, find by name.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "eventually.h"
#include "platform/process.h"
#include "temp_dir.h"

TEST(Process, RunsInItsFolderWithExtraEnvironmentAndReportsTheExitCode) {
    TempDir dir;
    pid_t pid = spawn_process("/bin/sh", {"-c", "pwd > out.txt; echo \"$QX\" >> out.txt; exit 3"},
                              dir.path().string(), {"QX=hello"});
    ASSERT_GT(pid, 0);
    auto code = wait_process(pid, 5000);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 3);
    EXPECT_EQ(read_file(dir.file("out.txt")), std::filesystem::canonical(dir.path()).string() + "\nhello\n");
}

// The child's standard error can go to a descriptor of ours (a pipe the test reads); its standard output
// stays ours.
TEST(Process, StandardErrorGoesWhereTheCallerSays) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    pid_t pid = spawn_process("/bin/sh", {"-c", "echo to-err >&2; echo to-out"}, "", {}, fds[1]);
    ::close(fds[1]);
    ASSERT_GT(pid, 0);
    std::string got;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        got.append(buffer, size_t(n));
    ::close(fds[0]);
    EXPECT_EQ(wait_process(pid, 5000).value_or(-1), 0);
    EXPECT_EQ(got, "to-err\n") << "standard error only";
    EXPECT_EQ(spawn_process("/nonexistent/program", {}, "", {}, fds[1]), 0);
}

TEST(Process, WaitTimesOutThenTerminateEndsIt) {
    pid_t pid = spawn_process("/bin/sleep", {"30"}, "");
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(wait_process(pid, 50).has_value());
    EXPECT_TRUE(process_running(pid));
    terminate_process(pid);
    EXPECT_FALSE(process_running(pid));
}

TEST(Process, FindsARunningProgramByBaseNameIgnoringCase) {
    TempDir dir;
    const std::string copy = dir.file("VelmorProbe");
    std::filesystem::copy_file("/bin/sleep", copy);
    pid_t pid = spawn_process(copy, {"30"}, "");
    ASSERT_GT(pid, 0);
    std::optional<ProcessInfo> found;
    eventually([&] { return (found = find_process("velmorprobe")).has_value(); });
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->pid, pid);
    EXPECT_EQ(found->path, copy);
    terminate_process(pid);
    EXPECT_FALSE(find_process("velmorprobe").has_value());
}

TEST(Process, MissingOrNonExecutableProgramIsNotStarted) {
    TempDir dir;
    write_file(dir.file("velmor"), "not a program");
    EXPECT_EQ(spawn_process("/nonexistent/program", {}, ""), 0);
    EXPECT_EQ(spawn_process(dir.file("velmor"), {}, ""), 0);
}

TEST(Process, ChildInheritsNoDescriptorsBeyondTheStandardThree) {
    TempDir dir;
    int fd = ::open(dir.file("held").c_str(), O_CREAT | O_RDWR, 0600); // not close-on-exec
    ASSERT_GE(fd, 3);
    pid_t pid = spawn_process("/bin/sh", {"-c", "ls /proc/self/fd > fds.txt"}, dir.path().string());
    ASSERT_EQ(wait_process(pid, 5000).value_or(-1), 0);
    ::close(fd);
    // ls itself opens one descriptor to read the folder.
    const std::string fds = read_file(dir.file("fds.txt"));
    EXPECT_EQ(fds.find(std::to_string(fd) + "\n"), std::string::npos) << fds;
}

// A process listens on a port while its socket listens there, IPv4 or IPv6; a socket only bound to it, or
// closed, does not.
TEST(Process, APortIsListenedOnWhileItsSocketListens) {
    for (int family : {AF_INET, AF_INET6}) {
        const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_storage at{};
        socklen_t length = 0;
        if (family == AF_INET) {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&at);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *v4;
        } else {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&at);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_loopback;
            length = sizeof *v6;
        }
        if (::bind(fd, reinterpret_cast<sockaddr*>(&at), length) != 0) {
            ::close(fd); // no IPv6 on this machine
            continue;
        }
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length), 0);
        const uint16_t port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&at)->sin_port
                                                      : reinterpret_cast<sockaddr_in6*>(&at)->sin6_port);
        EXPECT_FALSE(process_listens_on(getpid(), port)) << "bound but not listening";
        ASSERT_EQ(::listen(fd, 1), 0);
        EXPECT_TRUE(process_listens_on(getpid(), port)) << family;
        EXPECT_FALSE(process_listens_on(getpid(), uint16_t(port + 1))) << family;
        ::close(fd);
        EXPECT_FALSE(process_listens_on(getpid(), port)) << family;
    }
}
