// The plain message log (see TextMessageLog.h).
#include "chat/TextMessageLog.h"

#include <QDateTime>

#include "chat/chat_texts.h"
#include "platform/qtext.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"

TextMessageLog::TextMessageLog(Roster& roster, QWidget* parent) : QTextEdit(parent), roster_(roster) {
    setReadOnly(true);
}

void TextMessageLog::Append(const QString& html) {
    append(html);
    ensureCursorVisible();
}

void TextMessageLog::AddNoticeLine(const std::string& text) {
    ASSERT_UI_THREAD();
    const QString t = gbk_to_qstring(text);
    test_hooks::report("notice", t);
    Append(QString("<span style='color:#3d7189'>%1 %2</span>")
               .arg(QDateTime::currentDateTime().toString("hh:mm:ss"), t.toHtmlEscaped()));
}

void TextMessageLog::AddDebugLine(const std::string&) {}

void TextMessageLog::AppendChatLine(const ChatLogEntry*) {}

void TextMessageLog::OnChatPacket(const uint8_t* data, size_t length) {
    ASSERT_UI_THREAD();
    auto line = proto::ChatLine::decode(data, length);
    if (!line)
        return;
    UserRecord* from = roster_.FindById(line->sender);
    const QString sender = from ? gbk_to_qstring(from->block.nickname) : QString();
    const QString to = QString::fromUtf8(line->private_flag ? chat_text::kYou : chat_text::kAll);
    const QString text = gbk_to_qstring(line->text);
    test_hooks::report("chat", QString("%1>%2:%3").arg(line->sender).arg(line->private_flag).arg(text));
    Append(QString::fromUtf8(chat_text::kSaidTo).arg(sender.toHtmlEscaped(), to, text.toHtmlEscaped()));
}

void TextMessageLog::AddSystemText(const uint8_t* data, size_t length) {
    auto t = proto::SystemText::decode(data, length);
    if (t)
        Append(QString("<span style='color:red'>%1</span>").arg(gbk_to_qstring(t->text).toHtmlEscaped()));
}
