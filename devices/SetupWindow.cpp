// The frame of a setup dialog (see SetupWindow.h).
#include "devices/SetupWindow.h"

#include <QDialog>
#include <QLayout>

void make_setup_window(QDialog* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    if (QLayout* layout = dialog->layout())
        layout->setSizeConstraint(QLayout::SetFixedSize);
}
