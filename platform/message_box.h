// Message boxes. Every message is also written to standard error; with QUORIN_NONINTERACTIVE=1 in the
// environment (tests, headless runs) it is only written there and the call returns at once.
#pragma once

#include <QString>

class QWidget;

enum class MessageIcon { Information, Warning, Error };

void show_message_box(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon);

// A question with Yes and No, No the default, information icon. Non-interactive: the answer is No.
bool ask_yes_no(QWidget* parent, const QString& text, const QString& caption);
