// The message log (see CMsgDlg.h).
#include "chat/CMsgDlg.h"

#include <QKeyEvent>
#include <QLocale>
#include <QTextBlock>
#include <QTime>

#include <cstdio>

#include "chat/FaceLibrary.h"
#include "chat/chat_codes.h"
#include "chat/chat_format.h"
#include "chat/chat_texts.h"
#include "components/log.h"
#include "config/client_config.h"
#include "config/logging.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/test_hooks.h"
#include "platform/thread_rule.h"
#include "session/user_record.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

std::string cut(const std::string& gbk, size_t max_bytes) {
    return gbk.substr(0, gbk_fit(gbk, max_bytes));
}

template <typename... Args> std::string format_gbk(const char* utf8_format, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, utf8_to_gbk(utf8_format).c_str(), args...);
    return buffer;
}

} // namespace

CMsgDlg::CMsgDlg(call_back* cb, ISound* sound, const std::string& install_folder, QWidget* parent)
    : QWidget(parent), cb_(cb), sound_(sound),
      sound_file_(path_join(path_join(install_folder, "sound"), "message.wav")) {
    log_ = new CRichEditCtrlEx(this, 1012);
    log_->set_faces_folder(QString::fromStdString(path_join(install_folder, "Faces")));
    QPalette pal = log_->palette();
    pal.setColor(QPalette::Base, colour_of(colour(kChatColor2)));
    log_->setPalette(pal);
    log_->setReadOnly(true);
    log_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    log_->setLineWrapMode(QTextEdit::WidgetWidth);
    log_->SetDefaultFont();
    log_->set_font_entry(false);
    log_->installEventFilter(this);
    detail_ = new QAction(QString::fromUtf8(chat_text::kMenuDetail), this);
    detail_->setCheckable(true);
    log_->set_extra_actions({detail_});
}

void CMsgDlg::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    log_->setGeometry(6, 6, width() - 12, height() - 12);
}

bool CMsgDlg::eventFilter(QObject* watched, QEvent* e) {
    if (watched == log_ && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
            return true;
    }
    return QWidget::eventFilter(watched, e);
}

void CMsgDlg::SetParagraph(int indent_twips, int offset_twips) {
    QTextCursor c(log_->document());
    c.movePosition(QTextCursor::End);
    QTextBlockFormat b = c.blockFormat();
    // Twips to pixels at the screen's 96 dots per inch: 15 twips a pixel.
    b.setLeftMargin(indent_twips / 15.0);
    b.setTextIndent(offset_twips / 15.0);
    c.setBlockFormat(b);
}

QTextCharFormat CMsgDlg::NoticeFormat() const {
    return locale_default_format(kRed);
}

void CMsgDlg::AppendChatLine(const ChatLogEntry* e) {
    ASSERT_UI_THREAD();
    if (!e)
        return;
    SetParagraph(0, 0);
    log_->AppendColouredText(gbk_to_qstring(e->header), colour_of(e->header_colour), true, true);
    SetParagraph(160, 10);
    const QTextCharFormat body = format_of(e->font);
    int faces = 0;
    for (const chat::Piece& piece : chat::Decode(e->text.data(), e->text.size())) {
        switch (piece.kind) {
        case chat::Piece::Text:
            log_->AppendText(gbk_to_qstring(piece.text), body, true, false);
            break;
        case chat::Piece::Face: {
            if (log_->AppendPicture(face_file(log_->faces_folder(), piece.face), uint32_t(piece.face)))
                ++faces;
            else
                log_->AppendText(QString::asprintf(chat_text::kUnknownFace, piece.face), body, true, false);
            break;
        }
        case chat::Piece::UnknownFace:
            // An index no face has: shown as text, never turned into a file name.
            log_->AppendText(QString::asprintf(chat_text::kUnknownFace, piece.face), body, true, false);
            break;
        }
    }
    log_->AppendText(QString(), body, true, true);
    test_hooks::report("chat_faces", QString("%1 animating=%2").arg(faces).arg(log_->animating() ? 1 : 0));
}

void CMsgDlg::OnChatPacket(const uint8_t* data, size_t length) {
    ASSERT_UI_THREAD();
    auto line = proto::ChatLine::decode(data, length);
    if (!line)
        return;
    // A length field that claims more than the payload holds is a broken packet: shown in part, it would
    // mislead; dropped and logged.
    if (line->declared_length == 0 || proto::ChatLine::kHeader + size_t(line->declared_length) > length) {
        LOG_MAIN("dropped chat line: text length %u, payload %zu bytes\n", unsigned(line->declared_length),
                 length);
        return;
    }
    auto name_of = [this](uint32_t id) -> std::string {
        FindUserRequest find{id, nullptr};
        cb_->request(kReqFindUser, &find, sizeof find);
        return find.result ? find.result->block.nickname : std::string();
    };
    const std::string sender = name_of(line->sender);
    const std::string recipient = line->private_flag               ? utf8_to_gbk(chat_text::kYou)
                                  : line->target == pkt::kEveryone ? utf8_to_gbk(chat_text::kAll)
                                                                   : name_of(line->target);
    const QTime now = QTime::currentTime();
    ChatLogEntry entry;
    entry.header = cut(format_gbk(chat_text::kHeader, now.hour(), now.minute(), now.second(), sender.c_str(),
                                  recipient.c_str()),
                       kMaxHeaderBytes);
    entry.text.assign(line->text.begin(), line->text.end());
    entry.text.push_back(0);
    entry.font.face = line->font_face;
    entry.font.effects = uint16_t(line->effects & 7);
    entry.font.height = line->height;
    entry.font.colour = line->colour;
    std::string plain;
    for (const chat::Piece& p : chat::Decode(entry.text.data(), entry.text.size()))
        plain += p.kind == chat::Piece::Text ? p.text : "[" + std::to_string(p.face) + "]";
    test_hooks::report(
        "chat", QString("%1>%2:%3").arg(line->sender).arg(line->private_flag).arg(gbk_to_qstring(plain)));
    AppendChatLine(&entry);
    if (sound_ && !cb_->request(kReqOutputMuted, nullptr, 0))
        sound_->PlayAsync(sound_file_);
}

void CMsgDlg::AddNoticeLine(const std::string& text) {
    ASSERT_UI_THREAD();
    const QTime now = QTime::currentTime();
    SetParagraph(0, 0);
    log_->AppendColouredText(
        gbk_to_qstring(format_gbk(chat_text::kStamp, now.hour(), now.minute(), now.second())), kBlue, false,
        false);
    const std::string line = cut(text, kMaxNoticeBytes);
    log_->AppendText(gbk_to_qstring(line), NoticeFormat(), true, true);
    test_hooks::report("notice", gbk_to_qstring(line));
}

void CMsgDlg::AddDebugLine(const std::string& text) {
    ASSERT_UI_THREAD();
    if (!DetailOn())
        return;
    SetParagraph(0, 0);
    log_->AppendColouredText(gbk_to_qstring(cut(text, kMaxNoticeBytes)), kRed, true, true);
}

void CMsgDlg::AddSystemText(const uint8_t* data, size_t length) {
    ASSERT_UI_THREAD();
    auto t = proto::SystemText::decode(data, length);
    if (!t)
        return;
    SetParagraph(0, 0);
    log_->AppendColouredText(gbk_to_qstring(t->text), kRed, true, true);
}
