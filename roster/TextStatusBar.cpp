// The status line (see TextStatusBar.h).
#include "roster/TextStatusBar.h"

#include <QGridLayout>
#include <QPushButton>

#include <algorithm>

#include "platform/qtext.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"
#include "roster/roster_texts.h"
#include "session/message_ids.h"

TextStatusBar::TextStatusBar(call_back* cb, QWidget* parent) : QWidget(parent), cb_(cb) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 2, 6, 2);
    course_ = new QLabel(this);
    text_ = new QLabel(this);
    auto* microphone = new QPushButton(QString::fromUtf8(roster_text::kMicrophoneButton), this);
    connect(microphone, &QPushButton::clicked, this, [this] { ToggleMicrophone(); });
    grid->addWidget(course_, 0, 0);
    grid->addWidget(text_, 1, 0);
    grid->addWidget(microphone, 0, 1, 2, 1);
    Show();
}

bool TextStatusBar::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QWidget::event(e);
}

void TextStatusBar::on_message(unsigned id, intptr_t wparam, intptr_t) {
    if (id == msg::kOutputVolume) {
        volume_ = std::clamp(int(wparam), 0, 100);
        Show();
    }
}

void TextStatusBar::ShowUserCount() {
    ASSERT_UI_THREAD();
    test_hooks::report("user_count", QString::number(count_));
    Show();
}

void TextStatusBar::ShowHost(const std::string& nickname) {
    ASSERT_UI_THREAD();
    host_ = gbk_to_qstring(nickname.substr(0, 128));
    Show();
}

void TextStatusBar::ShowLinkState(const std::string& text) {
    ASSERT_UI_THREAD();
    link_state_ = gbk_to_qstring(text);
    test_hooks::report("link_state", link_state_);
    Show();
}

void TextStatusBar::ToggleMicrophone() {
    if (cb_->request(kReqConnected, nullptr, 0))
        cb_->request(kReqToggleMicrophone, nullptr, 0);
}

void TextStatusBar::Show() {
    QString line = QString::fromUtf8(roster_text::kStatusLine).arg(count_).arg(host_).arg(volume_);
    if (!link_state_.isEmpty())
        line += "    " + link_state_;
    text_->setText(line);
}
