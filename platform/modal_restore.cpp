// Modal dialogs that are not left minimised (see modal_restore.h).
#include "platform/modal_restore.h"

#include <QDialog>
#include <QEvent>
#include <QTimer>

namespace {

constexpr char kWatched[] = "quorin_modal_kept_up";

// Brings a minimised window back in the state it had before (maximised, full screen or normal).
void unminimise(QWidget* window) {
    if (window->windowState() & Qt::WindowMinimized)
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}

class ModalMinimiseUndo : public QObject {
public:
    explicit ModalMinimiseUndo(QDialog* dialog) : QObject(dialog), dialog_(dialog) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == dialog_ && event->type() == QEvent::WindowStateChange && minimised_over_owner() &&
            !pending_) {
            // After the events already queued, among them usually the owner's own minimise (the window
            // manager minimises the group). An owner minimised in a later batch is not watched and stays so.
            pending_ = true;
            QTimer::singleShot(0, this, [this] { restore(); });
        }
        return false;
    }

private:
    bool minimised_over_owner() const {
        return dialog_->isMinimized() && dialog_->isModal() && dialog_->parentWidget();
    }

    void restore() {
        pending_ = false;
        if (!dialog_->isVisible() || !minimised_over_owner())
            return;
        // The owner first, so that the dialog comes back above it.
        unminimise(dialog_->parentWidget()->window());
        unminimise(dialog_);
        dialog_->raise();
        dialog_->activateWindow();
    }

    QDialog* dialog_;
    bool pending_ = false;
};

} // namespace

void keep_modal_dialog_up(QDialog* dialog) {
    if (!dialog || dialog->property(kWatched).toBool())
        return;
    dialog->setProperty(kWatched, true);
    dialog->installEventFilter(new ModalMinimiseUndo(dialog));
}
