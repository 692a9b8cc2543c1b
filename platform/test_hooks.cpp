// Environment-driven hooks for tests and headless runs (see test_hooks.h).
#include "platform/test_hooks.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

namespace test_hooks {

void report(const QString& key, const QString& value) {
    const QString path = qEnvironmentVariable("QUORIN_REPORT");
    if (path.isEmpty())
        return;
    QFile f(path);
    if (f.open(QIODevice::Append | QIODevice::Text))
        f.write((key + "=" + value + "\n").toUtf8());
}

int auto_watch_cameras() {
    static const int n = qEnvironmentVariableIntValue("QUORIN_WATCH_CAMERAS");
    return n;
}

void arm_main_window(QWidget* window) {
    bool ok = false;
    const int exit_after = qEnvironmentVariableIntValue("QUORIN_EXIT_AFTER_MS", &ok);
    if (!ok || exit_after < 0)
        return;
    QTimer::singleShot(exit_after, window, [window] {
        const QString shot = qEnvironmentVariable("QUORIN_SCREENSHOT");
        if (!shot.isEmpty()) {
            bool saved = window->grab().save(shot, "PNG");
            report("screenshot", saved ? shot : QString("failed"));
        }
        if (qEnvironmentVariableIntValue("QUORIN_REPORT_TEXTS") == 1)
            report_texts(window);
        window->close();
    });
}

void report_texts(QWidget* window) {
    // What a person (or a screen reader) reads in the window: labels, buttons, tool tips, accessible names,
    // the text of text boxes.
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible())
            continue;
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        else if (auto* e = qobject_cast<QTextEdit*>(w))
            text = e->toPlainText();
        for (const QString& line : text.split('\n', Qt::SkipEmptyParts))
            report("text", line);
        if (!w->toolTip().isEmpty())
            report("tip", w->toolTip());
        if (!w->accessibleName().isEmpty())
            report("name", w->accessibleName());
    }
}

} // namespace test_hooks
