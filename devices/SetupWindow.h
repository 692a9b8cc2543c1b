// The frame of a setup dialog: a title and a close button, and the size its contents need. A window of fixed
// size is not offered maximising (maximised, the dialog stretched two lists over the screen). The window
// flags ask for no minimise or maximise button; openbox still draws both on every dialog (only maximising is
// refused there, for the fixed size), and minimising the modal dialog hides the class window with it until
// the dialog is activated again. UI thread.
#pragma once

class QDialog;

void make_setup_window(QDialog* dialog);
