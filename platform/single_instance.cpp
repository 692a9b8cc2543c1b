// Single-instance guard (see single_instance.h).
#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QSysInfo>
#include <chrono>
#include <cstring>

namespace {

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kLaunchRequest = "launch ";
// A request line is short: a launch string of a few hundred bytes in base64.
constexpr size_t kMaxRequestLine = 16 * 1024;

// The socket address of `path`; false when the path does not fit.
bool make_address(const QString& path, sockaddr_un* address) {
    const QByteArray bytes = QFile::encodeName(path);
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (size_t(bytes.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

// Takes the lock on the file at `path` (made when missing) and writes who holds it; the open file, or -1 when
// another copy holds the lock (or the file cannot be made). An advisory lock on the file, not a lock file's
// content: nothing is written to the disk and waited for (a lock file is written and synced, a disk flush of
// up to tens of milliseconds on the start path when the runtime folder is not in memory), and the lock ends
// with its process, however that ends.
int take_lock(const QByteArray& path) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return -1;
        }
        // The copy that held the lock may have removed the file between our open and our lock: a lock on
        // a file no longer at the path excludes nobody, so the file at the path is opened again.
        struct stat opened = {};
        struct stat at_path = {};
        if (::fstat(fd, &opened) != 0 || ::stat(path.constData(), &at_path) != 0 ||
            opened.st_ino != at_path.st_ino || opened.st_dev != at_path.st_dev) {
            ::close(fd);
            continue;
        }
        // Who holds it, for people (and for an older copy that reads the file); not synced.
        const QByteArray owner = QByteArray::number(qint64(::getpid())) + "\nquorin\n" +
                                 QSysInfo::machineHostName().toUtf8() + "\n";
        if (::ftruncate(fd, 0) == 0) {
            [[maybe_unused]] const ssize_t n = ::write(fd, owner.constData(), size_t(owner.size()));
        }
        return fd;
    }
    return -1;
}

} // namespace

// One connection of a second copy: its request line is read as it comes (at most kMaxRequestLine bytes),
// then it is closed.
struct SingleInstanceGuard::Caller {
    int fd = -1;
    QByteArray received;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Caller() {
        notifier.reset();
        if (fd >= 0)
            ::close(fd);
    }
};

SingleInstanceGuard::SingleInstanceGuard(const QString& name, QObject* parent)
    : QObject(parent), name_(name) {
    folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder_.isEmpty())
        folder_ = QDir::tempPath();
    QDir().mkpath(folder_);
}

SingleInstanceGuard::~SingleInstanceGuard() {
    release();
}

QString SingleInstanceGuard::lock_path() const {
    return folder_ + "/" + name_ + ".lock";
}
QString SingleInstanceGuard::server_path() const {
    return folder_ + "/" + name_;
}

bool SingleInstanceGuard::acquire() {
    lock_fd_ = take_lock(QFile::encodeName(lock_path()));
    if (lock_fd_ < 0)
        return false;

    // We hold the lock, so a socket file left at the server path belongs to a dead copy. Without the socket
    // we stay single but cannot be raised.
    sockaddr_un address{};
    if (!make_address(server_path(), &address))
        return true;
    ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    // Only this user may connect (the runtime folder is the user's too).
    const mode_t old_mask = ::umask(0077);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::umask(old_mask);
    if (!bound || ::listen(fd, 8) != 0) {
        ::close(fd);
        return true;
    }
    listen_fd_ = fd;
    listener_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(listener_.get(), &QSocketNotifier::activated, this, [this] { on_new_connection(); });
    return true;
}

void SingleInstanceGuard::on_new_connection() {
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        // A few callers at a time at most; more are turned away.
        if (callers_.size() >= kMaxCallers) {
            ::close(fd);
            continue;
        }
        auto caller = std::make_unique<Caller>();
        caller->fd = fd;
        caller->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        Caller* c = caller.get();
        connect(c->notifier.get(), &QSocketNotifier::activated, this, [this, c] { on_caller_readable(c); });
        callers_.push_back(std::move(caller));
    }
}

void SingleInstanceGuard::on_caller_readable(Caller* c) {
    char buffer[4096];
    const ssize_t n = ::recv(c->fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n > 0)
        c->received.append(buffer, qsizetype(n));
    const qsizetype end = c->received.indexOf('\n');
    // Waits for the rest of a line that has not ended yet and is not too long.
    if (n > 0 && end < 0 && size_t(c->received.size()) <= kMaxRequestLine)
        return;
    const QByteArray line =
        end >= 0 && size_t(end) < kMaxRequestLine ? c->received.left(end + 1) : QByteArray();
    // Answered first (the caller is closed): the second copy ends at once and never waits for what the
    // request starts, which may open windows and run an event loop.
    // (The notifier whose signal runs this goes later, not from within its own signal.)
    c->notifier->setEnabled(false);
    c->notifier.release()->deleteLater();
    for (auto it = callers_.begin(); it != callers_.end(); ++it)
        if (it->get() == c) {
            callers_.erase(it);
            break;
        }
    if (line == kRaiseRequest) {
        if (on_raise_request)
            on_raise_request();
    } else if (line.startsWith(kLaunchRequest)) {
        const QByteArray launch = QByteArray::fromBase64(line.mid(kLaunchRequest.size()).trimmed(),
                                                         QByteArray::AbortOnBase64DecodingErrors);
        if (on_launch_request)
            on_launch_request(launch.toStdString());
    }
}

bool SingleInstanceGuard::send_request(const QByteArray& line, int timeout_ms) {
    sockaddr_un address{};
    if (!make_address(server_path(), &address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    for (qsizetype sent = 0; ok && sent < line.size();) {
        const ssize_t n = ::send(fd, line.constData() + sent, size_t(line.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        sent += ok ? n : 0;
    }
    // Wait for the running copy to read and close, so the request is not lost with our exit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (ok) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, int(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        char c;
        if (r <= 0 || ::recv(fd, &c, 1, 0) <= 0)
            break;
    }
    ::close(fd);
    return ok;
}

bool SingleInstanceGuard::ask_running_copy_to_raise(int timeout_ms) {
    return send_request(kRaiseRequest, timeout_ms);
}

bool SingleInstanceGuard::hand_over_launch(const std::string& launch, int timeout_ms) {
    return send_request(kLaunchRequest + QByteArray::fromStdString(launch).toBase64() + "\n", timeout_ms);
}

void SingleInstanceGuard::release() {
    callers_.clear();
    if (listen_fd_ >= 0) {
        listener_.reset();
        ::close(listen_fd_);
        listen_fd_ = -1;
        sockaddr_un address{};
        if (make_address(server_path(), &address))
            ::unlink(address.sun_path);
    }
    if (lock_fd_ >= 0) {
        // Removed while still locked, so a copy that opens the path from now on makes a new file.
        ::unlink(QFile::encodeName(lock_path()).constData());
        ::close(lock_fd_);
        lock_fd_ = -1;
    }
}
