// Single-instance guard (see single_instance.h).
#include "platform/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {
const QByteArray kRaiseRequest = "raise\n";
const QByteArray kLaunchRequest = "launch ";
// A request line is short: a launch string of a few hundred bytes in base64.
constexpr qint64 kMaxRequestLine = 16 * 1024;
} // namespace

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
    auto lock = std::make_unique<QLockFile>(lock_path());
    // A lock whose owner process no longer exists is stale and is taken over by tryLock.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    lock_ = std::move(lock);

    // We hold the lock, so a socket file left at the server path belongs to a dead copy.
    QLocalServer::removeServer(server_path());
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstanceGuard::on_new_connection);
    server_->listen(server_path()); // without it we stay single but cannot be raised
    return true;
}

void SingleInstanceGuard::on_new_connection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequestLine)
                    socket->disconnectFromServer();
                return;
            }
            const QByteArray line = socket->readLine(kMaxRequestLine);
            // Answered first: the second copy ends at once and never waits for what the request starts.
            socket->disconnectFromServer();
            if (line == kRaiseRequest) {
                if (on_raise_request)
                    on_raise_request();
            } else if (line.startsWith(kLaunchRequest) && line.endsWith('\n')) {
                const QByteArray launch = QByteArray::fromBase64(line.mid(kLaunchRequest.size()).trimmed(),
                                                                 QByteArray::AbortOnBase64DecodingErrors);
                if (on_launch_request)
                    on_launch_request(launch.toStdString());
            }
        });
    }
}

bool SingleInstanceGuard::send_request(const QByteArray& line, int timeout_ms) {
    QLocalSocket socket;
    socket.connectToServer(server_path());
    if (!socket.waitForConnected(timeout_ms))
        return false;
    socket.write(line);
    bool ok = socket.waitForBytesWritten(timeout_ms);
    // Wait for the running copy to read and close, so the request is not lost with our exit.
    if (ok && socket.state() == QLocalSocket::ConnectedState)
        socket.waitForDisconnected(timeout_ms);
    return ok;
}

bool SingleInstanceGuard::ask_running_copy_to_raise(int timeout_ms) {
    return send_request(kRaiseRequest, timeout_ms);
}

bool SingleInstanceGuard::hand_over_launch(const std::string& launch, int timeout_ms) {
    return send_request(kLaunchRequest + QByteArray::fromStdString(launch).toBase64() + "\n", timeout_ms);
}

void SingleInstanceGuard::release() {
    if (server_) {
        server_->close();
        server_.reset();
    }
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
}
