// Control ids: every window builds its controls in code and registers each under its dialog control id, so
// that skin layout files, which name control ids, find them.
#pragma once

class QWidget;

void set_control_id(QWidget* control, int id);
// 0 for a widget without an id.
int control_id(const QWidget* control);
// The direct child of `dialog` registered under `id`, or null.
QWidget* get_dlg_item(QWidget* dialog, int id);
