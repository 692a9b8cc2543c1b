// Text panels of the room (see placeholder_panels.h).
#include "placeholder_panels.h"

#include <arpa/inet.h>

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QSpinBox>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <algorithm>

#include <cstring>

#include "message_ids.h"
#include "packet_types.h"
#include "qtext.h"
#include "test_hooks.h"

namespace {
QString nick(const std::string& gbk) {
    return gbk_to_qstring(gbk);
}
} // namespace

// ---- user list ----

TextUserList::TextUserList(call_back* cb, QWidget* parent) : QListWidget(parent), cb_(cb) {}

bool TextUserList::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QListWidget::event(e);
}

void TextUserList::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    if (id == msg::kAddUser) {
        // The record arrives with the message; the list keeps its own copy.
        auto record = std::make_unique<UserRecord>(*reinterpret_cast<const UserRecord*>(wparam));
        host_online_ = host_online_ || (record->block.rights & pkt::kRightHost);
        if (lparam == 0)
            self_ = record.get();
        test_hooks::report("user_added", QString::number(record->block.user_id));
        users_.push_back(std::move(record));
        Redraw();
    } else if (id == msg::kRemoveUser) {
        for (auto it = users_.begin(); it != users_.end(); ++it) {
            if ((*it)->block.user_id == uint32_t(wparam) && it->get() != self_) {
                users_.erase(it);
                break;
            }
        }
        host_online_ = false;
        for (auto& u : users_)
            host_online_ = host_online_ || (u->block.rights & pkt::kRightHost);
        test_hooks::report("user_removed", QString::number(wparam));
        Redraw();
    }
}

UserRecord* TextUserList::FindUserById(uint32_t id) {
    for (auto& u : users_)
        if (u->block.user_id == id)
            return u.get();
    return nullptr;
}

UserRecord* TextUserList::FindUserByName(const std::string& nickname) {
    for (auto& u : users_)
        if (u->block.nickname == nickname)
            return u.get();
    return nullptr;
}

void TextUserList::ClearUsers() {
    users_.clear();
    self_ = nullptr;
    host_online_ = false;
    Redraw();
}

void TextUserList::PostSelfUser(const proto::LoginResult& r, uint32_t own) {
    auto record = std::make_shared<UserRecord>();
    record->block.user_id = own;
    record->block.ip = r.ip;
    record->block.port = r.port;
    record->block.rights = r.rights;
    record->block.stream.bpp = 16;
    record->block.nickname = r.nickname;
    platform::post_message(this, msg::kAddUser, std::shared_ptr<void>(std::move(record)), 0);
}

void TextUserList::SetMicrophoneState(uint32_t id, bool on) {
    if (UserRecord* r = FindUserById(id)) {
        r->block.state = on ? (r->block.state | pkt::kStateMicrophone)
                            : (r->block.state & ~uint32_t(pkt::kStateMicrophone));
        RefreshUser(r);
    }
}

void TextUserList::SetStreamDescription(uint32_t id, const proto::StreamDesc& stream) {
    if (UserRecord* r = FindUserById(id)) {
        r->block.stream = stream;
        if (stream.fourcc == 0)
            r->block.state &= ~uint32_t(pkt::kStateVideo);
        RefreshUser(r);
    }
}

void TextUserList::SetSelfCamera(bool sending, bool present) {
    if (!self_)
        return;
    self_->block.stream.fourcc = sending || present ? 1 : 0;
    self_->block.state = sending ? (self_->block.state | pkt::kStateVideo)
                                 : (self_->block.state & ~uint32_t(pkt::kStateVideo));
    RefreshUser(self_);
}

void TextUserList::StopWatching(UserRecord* r) {
    const proto::Bytes payload = proto::WatchVideo{r->block.user_id, 0}.encode();
    void* p = nullptr;
    if (__SndBuf* b = cb_->get_send_buff(uint32_t(payload.size()), &p)) {
        std::memcpy(p, payload.data(), payload.size());
        cb_->send_packet(b, pkt::kWatchVideo);
    }
    VideoWindowRequest release{1, r->block.user_id, &r->block};
    cb_->request(kReqVideoWindow, &release, sizeof release);
    r->block.state &= ~uint32_t(pkt::kStateVideo);
    RefreshUser(r);
}

void TextUserList::RefreshUser(UserRecord*) {
    Redraw();
}

void TextUserList::Redraw() {
    clear();
    for (auto& u : users_) {
        const auto& b = u->block;
        QString line = nick(b.nickname);
        if (u.get() == self_)
            line += QString::fromUtf8("（我）");
        if (b.rights & pkt::kRightHost)
            line += QString::fromUtf8(" [发起人]");
        if (b.state & pkt::kStateMicrophone)
            line += QString::fromUtf8(" [麦]");
        if (b.stream.fourcc)
            line += QString::fromUtf8(" [摄]");
        if (b.state & pkt::kStateHand)
            line += QString::fromUtf8(" [举手]");
        addItem(line);
    }
}

// ---- message log ----

TextMessageLog::TextMessageLog(IUserList* users, QWidget* parent) : QTextEdit(parent), users_(users) {
    setReadOnly(true);
}

void TextMessageLog::Append(const QString& html) {
    append(html);
    ensureCursorVisible();
}

void TextMessageLog::AddNoticeLine(const std::string& text) {
    const QString t = gbk_to_qstring(text);
    test_hooks::report("notice", t);
    Append(QString("<span style='color:#3d7189'>%1 %2</span>")
               .arg(QDateTime::currentDateTime().toString("hh:mm:ss"), t.toHtmlEscaped()));
}

void TextMessageLog::AddDebugLine(const std::string&) {}

void TextMessageLog::AppendChatLine(const ChatLogEntry*) {}

void TextMessageLog::OnChatPacket(const uint8_t* data, size_t length) {
    auto line = proto::ChatLine::decode(data, length);
    if (!line)
        return;
    UserRecord* from = users_->FindUserById(line->sender);
    const QString sender = from ? nick(from->block.nickname) : QString();
    const QString to = line->private_flag ? QString::fromUtf8("你") : QString::fromUtf8("大家");
    const QString text = gbk_to_qstring(line->text);
    test_hooks::report("chat", QString("%1>%2:%3").arg(line->sender).arg(line->private_flag).arg(text));
    Append(QString("<b>&lt;%1&gt;</b> 对 <b>&lt;%2&gt;</b> 说：%3")
               .arg(sender.toHtmlEscaped(), to, text.toHtmlEscaped()));
}

void TextMessageLog::AddSystemText(const uint8_t* data, size_t length) {
    auto t = proto::SystemText::decode(data, length);
    if (t)
        Append(QString("<span style='color:red'>%1</span>").arg(gbk_to_qstring(t->text).toHtmlEscaped()));
}

// ---- status bar ----

TextStatusBar::TextStatusBar(call_back* cb, QWidget* parent) : QWidget(parent), cb_(cb) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 2, 6, 2);
    course_ = new QLabel(this);
    text_ = new QLabel(this);
    auto* microphone = new QPushButton(QString::fromUtf8("麦克风"), this);
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
    test_hooks::report("user_count", QString::number(count_));
    Show();
}

void TextStatusBar::ShowHost(const std::string& nickname) {
    host_ = nick(nickname.substr(0, 128));
    Show();
}

void TextStatusBar::ToggleMicrophone() {
    if (cb_->request(kReqConnected, nullptr, 0))
        cb_->request(kReqToggleMicrophone, nullptr, 0);
}

void TextStatusBar::Show() {
    text_->setText(
        QString::fromUtf8("房间人数：%1人    发起人：%2    音量：%3").arg(count_).arg(host_).arg(volume_));
}

// ---- chat input ----

TextChatInput::TextChatInput(call_back* cb, IUserList* users, IMessageLog* log, QWidget* parent)
    : QWidget(parent), cb_(cb), users_(users), log_(log) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    recipients_ = new QComboBox(this);
    line_ = new QLineEdit(this);
    auto* send = new QPushButton(QString::fromUtf8("发送"), this);
    row->addWidget(recipients_);
    row->addWidget(line_, 1);
    row->addWidget(send);
    connect(send, &QPushButton::clicked, this, [this] { Send(); });
    connect(line_, &QLineEdit::returnPressed, this, [this] { Send(); });
    ResetRecipients();
}

void TextChatInput::ResetRecipients() {
    recipients_->clear();
    recipients_->addItem(QString::fromUtf8("所有人"));
    recipients_->setCurrentIndex(0);
}

void TextChatInput::AddRecipient(const std::string& nickname) {
    recipients_->addItem(nick(nickname));
}

void TextChatInput::OnUserLeft(uint32_t user_id) {
    FindUserRequest find{user_id, nullptr};
    cb_->request(kReqFindUser, &find, sizeof find);
    if (!find.result)
        return;
    const int at = recipients_->findText(nick(find.result->block.nickname));
    if (at <= 0)
        return;
    recipients_->removeItem(at);
    log_->AddNoticeLine(find.result->block.nickname + qstring_to_gbk(QString::fromUtf8("己离开房间")));
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
    const proto::Bytes payload = line.encode();
    void* p = nullptr;
    if (__SndBuf* b = cb_->get_send_buff(uint32_t(payload.size()), &p)) {
        std::memcpy(p, payload.data(), payload.size());
        cb_->send_packet(b, pkt::kChat);
    }
    log_->AddNoticeLine(
        qstring_to_gbk(QString::fromUtf8("我 对 %1 说：%2").arg(recipients_->currentText(), text)));
    line_->clear();
}

// ---- setup dialogs ----

bool NumberDeviceDialogs::RunAudioSetup(int& record_id, int& play_id) {
    QDialog dialog(parent_);
    dialog.setWindowTitle(QString::fromUtf8("音频设置"));
    auto* form = new QFormLayout(&dialog);
    auto* record = new QSpinBox(&dialog);
    auto* play = new QSpinBox(&dialog);
    record->setRange(0, 64);
    play->setRange(0, 64);
    record->setValue(record_id);
    play->setValue(play_id);
    form->addRow(QString::fromUtf8("录音设备"), record);
    form->addRow(QString::fromUtf8("播放设备"), play);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    record_id = record->value();
    play_id = play->value();
    return true;
}

bool NumberDeviceDialogs::RunVideoSetup(int& camera_id) {
    bool ok = false;
    const int id = QInputDialog::getInt(parent_, QString::fromUtf8("视频设置"), QString::fromUtf8("摄像头"),
                                        camera_id, -1, 64, 1, &ok);
    if (ok)
        camera_id = id;
    return ok;
}
