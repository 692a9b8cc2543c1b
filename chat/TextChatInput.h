// The chat line: a recipient list, a one-line editor and the send button. It is the place where the rich
// chat input with faces goes.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include "session/call_back.h"
#include "session/panels.h"

class TextChatInput : public QWidget, public IChatInput {
public:
    TextChatInput(call_back* cb, IMessageLog* log, QWidget* parent);
    void ResetRecipients() override;
    void AddRecipient(const std::string& nickname) override;
    void OnUserLeft(uint32_t user_id) override;
    QLineEdit* line() const { return line_; }

private:
    void Send();
    call_back* cb_;
    IMessageLog* log_;
    QComboBox* recipients_;
    QLineEdit* line_;
};
