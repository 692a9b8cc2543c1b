// The frame of a setup dialog: a title and a close button, and the size its contents need. A window of fixed
// size is not offered maximising (maximised, the dialog stretched two lists over the screen). The window
// flags ask for no minimise or maximise button; openbox still draws both on every dialog (only maximising is
// refused there, for the fixed size). Minimising the modal dialog would hide the class window with it, so
// the minimise is undone (platform/modal_restore.h). UI thread.
#pragma once

class QDialog;

void make_setup_window(QDialog* dialog);
