// Environment-driven hooks for tests and headless runs (see test_hooks.h).
#include "platform/test_hooks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSaveFile>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "platform/controls.h"

namespace test_hooks {

void report(const QString& key, const QString& value) {
    const QString path = qEnvironmentVariable("QUORIN_REPORT");
    if (path.isEmpty())
        return;
    QFile f(path);
    if (f.open(QIODevice::Append | QIODevice::Text))
        f.write((key + "=" + value + "\n").toUtf8());
}

bool reporting() {
    return !qEnvironmentVariableIsEmpty("QUORIN_REPORT");
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
    // The screenshot, the texts and the close, once: at the time limit or when the exit file appears.
    auto closing = std::make_shared<bool>(false);
    auto close_window = [window, closing] {
        if (*closing)
            return;
        *closing = true;
        const QString shot = qEnvironmentVariable("QUORIN_SCREENSHOT");
        if (!shot.isEmpty()) {
            bool saved = window->grab().save(shot, "PNG");
            report("screenshot", saved ? shot : QString("failed"));
        }
        if (qEnvironmentVariableIntValue("QUORIN_REPORT_TEXTS") == 1)
            report_texts(window);
        window->close();
    };
    QTimer::singleShot(exit_after, window, close_window);
    const QString exit_file = qEnvironmentVariable("QUORIN_EXIT_FILE");
    if (!exit_file.isEmpty()) {
        auto* watch = new QTimer(window);
        QObject::connect(watch, &QTimer::timeout, window, [watch, exit_file, close_window] {
            if (!QFile::exists(exit_file))
                return;
            watch->stop();
            close_window();
        });
        watch->start(100);
    }
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

namespace {

QString name_of(const QWidget* w) {
    if (!w->objectName().isEmpty())
        return w->objectName();
    if (int id = control_id(w))
        return QString::number(id);
    if (const auto* b = qobject_cast<const QAbstractButton*>(w); b && !b->text().isEmpty())
        return "button:" + QString(b->text()).remove('&');
    if (w->isWindow())
        return w->metaObject()->className();
    return {};
}

void list_widget(const QWidget* w, const QString& parent_path, QByteArray& out) {
    if (!w->isVisible())
        return;
    const QString name = name_of(w);
    QString path = parent_path;
    if (!name.isEmpty()) {
        path = parent_path.isEmpty() ? name : parent_path + "/" + name;
        const QPoint at = w->mapToGlobal(QPoint(0, 0));
        out += QString("%1 %2 %3 %4 %5\n")
                   .arg(path)
                   .arg(at.x())
                   .arg(at.y())
                   .arg(w->width())
                   .arg(w->height())
                   .toUtf8();
    }
    for (const QObject* child : w->children())
        if (const auto* cw = qobject_cast<const QWidget*>(child); cw && !cw->isWindow())
            list_widget(cw, path, out);
}

} // namespace

void arm_widget_list() {
    const QString path = qEnvironmentVariable("QUORIN_WIDGETS");
    if (path.isEmpty())
        return;
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [path] {
        QByteArray out;
        for (const QWidget* top : QApplication::topLevelWidgets())
            list_widget(top, QString(), out);
        // Where the keyboard goes: "focus:" and the path of the focused control.
        if (const QWidget* f = QApplication::focusWidget()) {
            QStringList names;
            for (const QWidget* w = f; w; w = w->isWindow() ? nullptr : w->parentWidget())
                if (const QString n = name_of(w); !n.isEmpty())
                    names.prepend(n);
            const QPoint at = f->mapToGlobal(QPoint(0, 0));
            out += QString("focus:%1 %2 %3 %4 %5\n")
                       .arg(names.join('/'))
                       .arg(at.x())
                       .arg(at.y())
                       .arg(f->width())
                       .arg(f->height())
                       .toUtf8();
        }
        QSaveFile f(path);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(out);
            f.commit();
        }
    });
    timer->start(100);
}

} // namespace test_hooks
