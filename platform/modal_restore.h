// A modal dialog over one of the program's windows is not left minimised. Window managers may offer a
// minimise button on every dialog whatever the window asks for (openbox does), and minimising a modal dialog
// there minimises the window it belongs to with it; on a desktop without a task bar nothing then shows the
// way back. The minimise is undone at once: the dialog and its window come back as they were (a maximised
// window stays maximised). A dialog without a parent, and one that is not modal, may be minimised as usual.
// UI thread.
#pragma once

class QDialog;

void keep_modal_dialog_up(QDialog* dialog);
