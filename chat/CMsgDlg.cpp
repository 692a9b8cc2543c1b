// The message log (see CMsgDlg.h).
#include "chat/CMsgDlg.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTime>
#include <QUrl>

#include <cstdio>

#include "chat/chat_codes.h"
#include "chat/chat_format.h"
#include "chat/chat_texts.h"
#include "components/log.h"
#include "config/client_config.h"
#include "controls/FaceLibrary.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "session/requests.h"
#include "session/user_record.h"
#include "wire/packet_types.h"

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
    save_text_ = new QAction(QString::fromUtf8(chat_text::kMenuSaveText), this);
    save_text_->setObjectName("save_text");
    save_html_ = new QAction(QString::fromUtf8(chat_text::kMenuSaveHtml), this);
    save_html_->setObjectName("save_html");
    connect(save_text_, &QAction::triggered, this, [this] { SaveAs(false); });
    connect(save_html_, &QAction::triggered, this, [this] { SaveAs(true); });
    log_->set_extra_actions({save_text_, save_html_, detail_});
    log_->setAccessibleName(QString::fromUtf8(chat_text::kLogName));
    log_->setAccessibleDescription(QString::fromUtf8(chat_text::kLogDescription));
    log_->setToolTip(QString::fromUtf8(chat_text::kLogDescription));
    choose_file = [this](bool html) {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString name = QString::fromUtf8(chat_text::kSaveFileName)
                                 .arg(QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss")) +
                             (html ? ".html" : ".txt");
        return QFileDialog::getSaveFileName(
            this, QString::fromUtf8(chat_text::kSaveTitle), QDir(folder).filePath(name),
            QString::fromUtf8(html ? chat_text::kSaveFilterHtml : chat_text::kSaveFilterText));
    };
}

QString CMsgDlg::PlainLog() const {
    // Faces become a marker; every paragraph its own line.
    QString out;
    for (QTextBlock b = log_->document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.charFormat().isImageFormat())
                out += QString::fromUtf8(chat_text::kFaceInText).repeated(f.length());
            else
                out += f.text();
        }
        if (b.next().isValid())
            out += '\n';
    }
    return out;
}

QString CMsgDlg::HtmlLog() const {
    // The faces travel inside the file (data URLs): a saved log opens anywhere, without the faces folder.
    QString html = log_->document()->toHtml();
    static const QRegularExpression face(QStringLiteral("src=\"(face:[0-9]+)\""));
    QString out;
    qsizetype at = 0;
    for (auto m = face.globalMatch(html); m.hasNext();) {
        const auto hit = m.next();
        out += html.mid(at, hit.capturedStart() - at);
        const QVariant v = log_->document()->resource(QTextDocument::ImageResource, QUrl(hit.captured(1)));
        QImage image = v.value<QImage>();
        if (image.isNull())
            image = v.value<QPixmap>().toImage();
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        out += "src=\"data:image/png;base64," + QString::fromLatin1(png.toBase64()) + "\"";
        at = hit.capturedEnd();
    }
    out += html.mid(at);
    return out;
}

bool CMsgDlg::SaveLog(const QString& path, bool html) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = (html ? HtmlLog() : PlainLog()).toUtf8();
    return file.write(bytes) == bytes.size() && file.commit();
}

void CMsgDlg::SaveAs(bool html) {
    const QString path = choose_file ? choose_file(html) : QString();
    if (path.isEmpty())
        return;
    const bool ok = SaveLog(path, html);
    AddNoticeLine(
        qstring_to_gbk(QString::fromUtf8(ok ? chat_text::kSaved : chat_text::kSaveFailed).arg(path)));
}

void CMsgDlg::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // A log that showed its newest line goes on showing it at the new size (a window restored from
    // maximised would otherwise show older lines, the newest hidden below, until the next line comes).
    const QScrollBar* bar = log_->verticalScrollBar();
    const bool at_end = bar->value() >= bar->maximum();
    log_->setGeometry(6, 6, width() - 12, height() - 12);
    if (at_end)
        log_->ScrollToEnd();
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
    return installed_families_only(locale_default_format(kRed));
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
    if (observer_)
        observer_->ChatFacesShown(faces, log_->animating());
}

void CMsgDlg::OnChatLine(const IncomingChatLine& line) {
    ASSERT_UI_THREAD();
    auto name_of = [this](uint32_t id) { return req::DisplayName(*cb_, id); };
    const std::string sender = name_of(line.sender);
    const std::string recipient = line.private_flag               ? utf8_to_gbk(chat_text::kYou)
                                  : line.target == pkt::kEveryone ? utf8_to_gbk(chat_text::kAll)
                                                                  : name_of(line.target);
    const QTime now = QTime::currentTime();
    ChatLogEntry entry;
    entry.header = cut(format_gbk(chat_text::kHeader, now.hour(), now.minute(), now.second(), sender.c_str(),
                                  recipient.c_str()),
                       kMaxHeaderBytes);
    if (line.private_flag) {
        // A private line carries its own label and colour.
        entry.header = utf8_to_gbk(chat_text::kPrivateLabel) + entry.header;
        entry.header_colour = kPrivateHeaderColour;
    }
    entry.text.assign(line.text.begin(), line.text.end());
    entry.text.push_back(0);
    entry.font.face = line.font_face;
    entry.font.effects = uint16_t(line.effects & 7);
    entry.font.height = line.height;
    entry.font.colour = line.colour;
    std::string plain;
    for (const chat::Piece& p : chat::Decode(entry.text.data(), entry.text.size()))
        plain += p.kind == chat::Piece::Text ? p.text : "[" + std::to_string(p.face) + "]";
    if (observer_)
        observer_->ChatShown(line.sender, line.private_flag, plain);
    AppendChatLine(&entry);
    if (sound_ && !req::OutputMuted(*cb_))
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
    if (observer_)
        observer_->NoticeShown(line);
}

void CMsgDlg::AddFileNoticeLine(const std::string& text, const std::string& utf8_path) {
    ASSERT_UI_THREAD();
    // Only the client's own files become links (a peer's text never makes a local file clickable).
    const QTime now = QTime::currentTime();
    SetParagraph(0, 0);
    log_->AppendColouredText(
        gbk_to_qstring(format_gbk(chat_text::kStamp, now.hour(), now.minute(), now.second())), kBlue, false,
        false);
    log_->AppendText(gbk_to_qstring(cut(text, kMaxNoticeBytes)) + " ", NoticeFormat(), true, false);
    const QString path = QString::fromStdString(utf8_path);
    QTextCharFormat link = NoticeFormat();
    link.setAnchor(true);
    link.setAnchorHref(QUrl::fromLocalFile(path).toString());
    link.setForeground(QColor(0, 0, 238));
    link.setFontUnderline(true);
    link.setToolTip(path);
    QTextCursor c(log_->document());
    c.movePosition(QTextCursor::End);
    c.insertText(path, link);
    log_->AppendText(QString(), NoticeFormat(), true, true);
    if (observer_)
        observer_->FileNoticeShown(text, utf8_path);
}

void CMsgDlg::AddDebugLine(const std::string& text) {
    ASSERT_UI_THREAD();
    if (!DetailOn())
        return;
    SetParagraph(0, 0);
    log_->AppendColouredText(gbk_to_qstring(cut(text, kMaxNoticeBytes)), kRed, true, true);
}

void CMsgDlg::AddSystemText(const std::string& text) {
    ASSERT_UI_THREAD();
    SetParagraph(0, 0);
    log_->AppendColouredText(gbk_to_qstring(text), kRed, true, true);
}
