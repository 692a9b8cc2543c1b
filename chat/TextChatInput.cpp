// The chat line (see TextChatInput.h).
#include "chat/TextChatInput.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "chat/chat_texts.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "session/user_record.h"
#include "wire/packet_types.h"

TextChatInput::TextChatInput(call_back* cb, IMessageLog* log, QWidget* parent)
    : QWidget(parent), cb_(cb), log_(log) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    recipients_ = new QComboBox(this);
    line_ = new QLineEdit(this);
    auto* send = new QPushButton(QString::fromUtf8(chat_text::kSend), this);
    row->addWidget(recipients_);
    row->addWidget(line_, 1);
    row->addWidget(send);
    connect(send, &QPushButton::clicked, this, [this] { Send(); });
    connect(line_, &QLineEdit::returnPressed, this, [this] { Send(); });
    ResetRecipients();
}

void TextChatInput::ResetRecipients() {
    ASSERT_UI_THREAD();
    recipients_->clear();
    recipients_->addItem(QString::fromUtf8(chat_text::kEveryone));
    recipients_->setCurrentIndex(0);
}

void TextChatInput::AddRecipient(const std::string& nickname) {
    ASSERT_UI_THREAD();
    recipients_->addItem(gbk_to_qstring(nickname));
}

void TextChatInput::OnUserLeft(uint32_t user_id) {
    ASSERT_UI_THREAD();
    FindUserRequest find{user_id, nullptr};
    cb_->request(kReqFindUser, &find, sizeof find);
    if (!find.result)
        return;
    const int at = recipients_->findText(gbk_to_qstring(find.result->block.nickname));
    if (at <= 0)
        return;
    recipients_->removeItem(at);
    log_->AddNoticeLine(find.result->block.nickname +
                        qstring_to_gbk(QString::fromUtf8(chat_text::kUserLeft)));
}

void TextChatInput::Send() {
    const QString text = line_->text();
    if (text.isEmpty() || !cb_->request(kReqConnected, nullptr, 0))
        return;
    proto::ChatLine line;
    line.text = qstring_to_gbk(text);
    line.font_face = qstring_to_gbk(font().family());
    if (recipients_->currentIndex() > 0) {
        FindUserByNicknameRequest find{nullptr, nullptr};
        const std::string name = qstring_to_gbk(recipients_->currentText());
        find.nickname = name.c_str();
        cb_->request(kReqFindUserByNickname, &find, sizeof find);
        if (!find.result)
            return;
        line.target = find.result->block.user_id;
        line.private_flag = 1;
    }
    cb_->Send(pkt::kChat, line.encode());
    log_->AddNoticeLine(
        qstring_to_gbk(QString::fromUtf8(chat_text::kISaidTo).arg(recipients_->currentText(), text)));
    line_->clear();
}
