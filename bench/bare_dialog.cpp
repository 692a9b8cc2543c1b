// The peer of the start-up benchmark: a bare Qt dialog of the client's first size, started the same way.
// Appends "shown=1" to $QUORIN_REPORT once the dialog is on screen, and "painted=1" once its first paint is
// done (as the client does for its window). Then it ends, or with QUORIN_BARE_STAY=1 it stays until SIGTERM,
// which closes it the way the client closes its window (a signal pipe read on the event loop), for the
// shutdown figure. With QUORIN_BARE_TEXT=1 it shows one line of Chinese and Latin text, so that it loads the
// fonts as any window with words does.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>

namespace {
int g_pipe[2] = {-1, -1};

void report(const char* line) {
    QFile file(qEnvironmentVariable("QUORIN_REPORT"));
    if (file.open(QIODevice::Append))
        file.write(line);
}

// Reports the first paint once the paint pass that holds it is over (the label is painted in the same pass),
// the way the client does: through an event posted at high priority, handled before anything queued
// meanwhile.
class FirstPaint : public QObject {
public:
    static constexpr QEvent::Type kPassOver = QEvent::Type(QEvent::User + 7);
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QCoreApplication::postEvent(this, new QEvent(kPassOver), Qt::HighEventPriority);
        }
        return false;
    }
    bool event(QEvent* e) override {
        if (e->type() != kPassOver)
            return QObject::event(e);
        report("painted=1\n");
        return true;
    }

private:
    bool seen_ = false;
};
void on_term(int) {
    char c = 1;
    [[maybe_unused]] ssize_t n = write(g_pipe[1], &c, 1);
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.resize(1028, 600);
    if (qEnvironmentVariableIntValue("QUORIN_BARE_TEXT") == 1)
        (new QLabel(QString::fromUtf8("房间人数：3人 (classroom)"), &dialog))->move(10, 10);
    const bool stay = qEnvironmentVariableIntValue("QUORIN_BARE_STAY") == 1;
    if (stay && socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) == 0) {
        auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, &dialog);
        QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog] {
            char c;
            [[maybe_unused]] ssize_t n = read(g_pipe[0], &c, 1);
            dialog.close();
        });
        struct sigaction sa {};
        sa.sa_handler = on_term;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
    }
    FirstPaint first_paint;
    dialog.installEventFilter(&first_paint);
    dialog.show();
    QTimer::singleShot(0, &dialog, [&dialog, stay] {
        report("shown=1\n");
        if (!stay)
            dialog.done(0);
    });
    return dialog.exec();
}
