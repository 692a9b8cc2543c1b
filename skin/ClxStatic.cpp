// Owner-drawn label and check box (see ClxStatic.h).
#include "skin/ClxStatic.h"

#include <QPalette>

#include "components/colour_key.h"

void OwnerColours::ApplyTo(QWidget* widget) const {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour_from_ref(text));
    p.setColor(QPalette::Text, colour_from_ref(text));
    p.setColor(QPalette::ButtonText, colour_from_ref(text));
    p.setColor(QPalette::Window, colour_from_ref(background));
    p.setColor(QPalette::Button, colour_from_ref(background));
    widget->setPalette(p);
    widget->setBackgroundRole(QPalette::Window);
    // Transparent: nothing is painted behind the text, so the parent's picture shows through.
    widget->setAutoFillBackground(!transparent);
    widget->setAttribute(Qt::WA_TranslucentBackground, transparent);
}
