// The frame of a setup dialog (see SetupWindow.h).
#include "devices/SetupWindow.h"

#include <QDialog>
#include <QLayout>

#include "platform/modal_restore.h"

void make_setup_window(QDialog* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    if (QLayout* layout = dialog->layout())
        layout->setSizeConstraint(QLayout::SetFixedSize);
    keep_modal_dialog_up(dialog);
}
