// The single-instance guard's socket: requests are whole lines, read as they come; anything else, or a line
// without end, is closed without effect.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/single_instance.h"
#include "temp_dir.h"

namespace {

int connect_to(const QString& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::memcpy(a.sun_path, p.constData(), size_t(p.size()));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True when the other side closed `fd` within the time (the event loop runs meanwhile).
bool closed_by_peer(int fd, int timeout_ms = 3000) {
    return QTest::qWaitFor(
        [fd] {
            pollfd p{fd, POLLIN, 0};
            char c;
            return poll(&p, 1, 0) == 1 && recv(fd, &c, 1, MSG_DONTWAIT) == 0;
        },
        timeout_ms);
}

} // namespace

TEST(SingleInstance, RequestsAreWholeLinesAndAnythingElseIsClosedWithoutEffect) {
    TempDir dir;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir.path().string()));
    SingleInstanceGuard first("guard-test");
    ASSERT_TRUE(first.acquire());
    int raised = 0;
    std::string launched;
    first.on_raise_request = [&] { ++raised; };
    first.on_launch_request = [&](const std::string& l) { launched = l; };
    SingleInstanceGuard second("guard-test");
    EXPECT_FALSE(second.acquire()) << "one copy at a time";

    // A request in two pieces.
    int fd = connect_to(first.server_path());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, "rai", 3, 0), 3);
    QTest::qWait(50);
    ASSERT_EQ(send(fd, "se\n", 3, 0), 3);
    EXPECT_TRUE(closed_by_peer(fd));
    close(fd);
    EXPECT_EQ(raised, 1);

    // A line that never ends, and one that is not a request.
    fd = connect_to(first.server_path());
    const std::string endless(20 * 1024, 'x');
    ASSERT_EQ(send(fd, endless.data(), endless.size(), 0), ssize_t(endless.size()));
    EXPECT_TRUE(closed_by_peer(fd)) << "closed once the line is longer than any request";
    close(fd);
    fd = connect_to(first.server_path());
    ASSERT_EQ(send(fd, "lower\n", 6, 0), 6);
    EXPECT_TRUE(closed_by_peer(fd));
    close(fd);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(launched, "");

    // A second copy's requests, from a thread of its own as from another process.
    bool handed = false, asked = false;
    std::thread other([&] {
        handed = second.hand_over_launch("userid=5&roomid=2");
        asked = second.ask_running_copy_to_raise();
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return raised == 2; }, 5000));
    other.join();
    EXPECT_TRUE(handed);
    EXPECT_TRUE(asked);
    EXPECT_EQ(launched, "userid=5&roomid=2");

    first.release();
    EXPECT_LT(connect_to(first.server_path()), 0) << "the socket goes with the guard";
}

// Whether a guard of another process gets the lock now: a child process tries, and ends at once without
// releasing (as a copy that crashes).
static bool other_process_acquires(const char* name) {
    const pid_t child = fork();
    if (child == 0) {
        SingleInstanceGuard guard(name);
        _exit(guard.acquire() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST(SingleInstance, TheLockIsHeldAgainstOtherProcessesAndEndsWithItsProcess) {
    TempDir dir;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir.path().string()));
    {
        // A lock file left behind by a copy that crashed long ago holds nothing.
        SingleInstanceGuard probe("lock-test");
        QFile left(probe.lock_path());
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
        left.write("999999999\nquorin\nsomewhere\n");
    }
    SingleInstanceGuard first("lock-test");
    ASSERT_TRUE(first.acquire()) << "a file left behind is taken over";
    EXPECT_FALSE(other_process_acquires("lock-test")) << "held against another process";
    first.release();
    EXPECT_FALSE(QFile::exists(first.lock_path())) << "the file goes with the guard";

    // A copy that ends without releasing (it crashed) leaves the lock free.
    EXPECT_TRUE(other_process_acquires("lock-test"));
    SingleInstanceGuard next("lock-test");
    EXPECT_TRUE(next.acquire());
    SingleInstanceGuard another("lock-test");
    EXPECT_FALSE(another.acquire()) << "one copy at a time, also within one process";
}
