// Message boxes with a non-interactive mode for tests.
#include "platform/message_box.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

#include <cstdio>

#include "platform/modal_restore.h"

void show_message_box(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    std::fprintf(stderr, "message box [%s]: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
    std::fflush(stderr);
    if (qEnvironmentVariableIntValue("QUORIN_NONINTERACTIVE") == 1)
        return;
    QMessageBox box(icon == MessageIcon::Information ? QMessageBox::Information
                    : icon == MessageIcon::Warning   ? QMessageBox::Warning
                                                     : QMessageBox::Critical,
                    caption, text, QMessageBox::Ok, parent);
    keep_modal_dialog_up(&box);
    box.exec();
}

bool ask_yes_no(QWidget* parent, const QString& text, const QString& caption) {
    std::fprintf(stderr, "question [%s]: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
    std::fflush(stderr);
    if (qEnvironmentVariableIntValue("QUORIN_NONINTERACTIVE") == 1)
        return false;
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    keep_modal_dialog_up(&box);
    return box.exec() == QMessageBox::Yes;
}

void close_modal_windows_above(QWidget* window) {
    // Each close ends one nested loop; a dialog that opens another one as it ends is closed in turn. The
    // bound keeps a window that refuses to close from holding this here.
    for (int i = 0; i < 32; ++i) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            continue;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == window)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}
