// Message boxes. Every message is also written to standard error; with QUORIN_NONINTERACTIVE=1 in the
// environment (tests, headless runs) it is only written there and the call returns at once.
#pragma once

#include <QString>

class QWidget;

enum class MessageIcon { Information, Warning, Error };

void show_message_box(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon);

// A question with Yes and No, No the default, information icon. Non-interactive: the answer is No.
bool ask_yes_no(QWidget* parent, const QString& text, const QString& caption);

// Closes the menus, boxes and modal dialogs open above `window` (each answered as by Escape or its Cancel
// button), so that a window that ends while one of them is open is not kept waiting under it by their loops.
void close_modal_windows_above(QWidget* window);
