// Control ids over a widget property (see controls.h).
#include "platform/controls.h"

#include <QVariant>
#include <QWidget>

namespace {
constexpr const char* kProperty = "controlId";
}

void set_control_id(QWidget* control, int id) {
    if (control)
        control->setProperty(kProperty, id);
}

int control_id(const QWidget* control) {
    return control ? control->property(kProperty).toInt() : 0;
}

QWidget* get_dlg_item(QWidget* dialog, int id) {
    if (!dialog || id == 0)
        return nullptr;
    for (QWidget* w : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control_id(w) == id)
            return w;
    return nullptr;
}
