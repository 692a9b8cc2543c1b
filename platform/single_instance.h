// One running copy per user session: a lock on a file in the user's runtime folder is the mutex (the system
// drops it with the process that held it, so a copy that crashed leaves nothing that stops the next start),
// and a local socket beside it lets a second
// copy ask the running one to come to the front, or hand it a launch string (a class link clicked while the
// client runs).
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

class SingleInstanceGuard : public QObject {
    Q_OBJECT
public:
    // `name` names the mutex; the files live in the user's runtime folder.
    explicit SingleInstanceGuard(const QString& name, QObject* parent = nullptr);
    ~SingleInstanceGuard() override;

    // True when this process now holds the guard; false when another copy does.
    bool acquire();

    // From a second copy: asks the running one to come to the front. True when the request was delivered.
    bool ask_running_copy_to_raise(int timeout_ms = 1000);

    // From a second copy: hands a launch string to the running one. True when it was delivered.
    bool hand_over_launch(const std::string& launch, int timeout_ms = 1000);

    // Ends the guard early (it also ends with the object).
    void release();

    // Called on the UI thread of the running copy when a second copy asked it to come to the front.
    std::function<void()> on_raise_request;
    // Called on the UI thread of the running copy with a launch string that a second copy handed over.
    std::function<void(const std::string&)> on_launch_request;

    QString lock_path() const;
    QString server_path() const;

private:
    struct Caller;
    static constexpr size_t kMaxCallers = 8;
    void on_new_connection();
    void on_caller_readable(Caller* c);
    bool send_request(const QByteArray& line, int timeout_ms);

    QString name_;
    QString folder_;
    // The open lock file that holds the lock (-1 without the guard).
    int lock_fd_ = -1;
    // The socket a second copy connects to: a plain Unix socket (Qt's local server would load Qt Network and
    // the Kerberos and proxy libraries behind it before the first window could show).
    int listen_fd_ = -1;
    std::unique_ptr<QSocketNotifier> listener_;
    std::vector<std::unique_ptr<Caller>> callers_;
};
