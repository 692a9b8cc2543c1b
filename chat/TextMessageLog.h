// The message log as plain rich text: notices, chat lines and system texts. It is the place where the log
// with inline animated faces goes.
#pragma once

#include <QTextEdit>

#include "session/panels.h"
#include "session/roster.h"

class TextMessageLog : public QTextEdit, public IMessageLog {
public:
    TextMessageLog(Roster& roster, QWidget* parent);
    void AddNoticeLine(const std::string& text) override;
    void AddDebugLine(const std::string& text) override;
    void AppendChatLine(const ChatLogEntry* entry) override;
    void OnChatPacket(const uint8_t* data, size_t length) override;
    void AddSystemText(const uint8_t* data, size_t length) override;
    bool DetailOn() override { return false; }

private:
    void Append(const QString& html);
    Roster& roster_;
};
