// The rich text control (see CRichEditCtrlEx.h).
#include "chat/CRichEditCtrlEx.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QUrl>

#include "chat/ChatFontDialog.h"
#include "chat/chat_format.h"
#include "chat/chat_texts.h"
#include "controls/FaceLibrary.h"
#include "platform/modal_restore.h"
#include "platform/qtext.h"

namespace {

// Web addresses in typed or received text.
const QRegularExpression& link_pattern() {
    static const QRegularExpression re(R"((?:https?://|ftp://|www\.)[^\s<>"]+)",
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

} // namespace

CRichEditCtrlEx::CRichEditCtrlEx(QWidget* parent, int control_id) : QTextEdit(parent), id_(control_id) {
    setAcceptRichText(false); // pasted text is plain text: no markup from outside
    // Tab leaves for the next control, as in every other field of the window.
    setTabChangesFocus(true);
}

CRichEditCtrlEx::~CRichEditCtrlEx() {
    AnimationClock::Shared().Unsubscribe(this);
}

void CRichEditCtrlEx::InsertWithLinks(QTextCursor& cursor, const QString& text,
                                      const QTextCharFormat& format) {
    // Runs between links keep the format; a link gets an anchor and the usual link look.
    qsizetype at = 0;
    auto it = link_pattern().globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        if (m.capturedStart() > at)
            cursor.insertText(text.mid(at, m.capturedStart() - at), format);
        QTextCharFormat link = format;
        link.setAnchor(true);
        link.setAnchorHref(m.captured());
        link.setForeground(QColor(0, 0, 238));
        link.setFontUnderline(true);
        cursor.insertText(m.captured(), link);
        at = m.capturedEnd();
    }
    if (at < text.size())
        cursor.insertText(text.mid(at), format);
}

void CRichEditCtrlEx::AppendText(const QString& text, const QTextCharFormat& format, bool exact_run,
                                 bool line_break) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (exact_run) {
        InsertWithLinks(cursor, text, format);
    } else {
        InsertWithLinks(cursor, text, format);
        // The whole last line takes the format (a notice's time stamp relies on it).
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(format);
        cursor.movePosition(QTextCursor::End);
    }
    if (line_break) {
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
    }
    if (exact_run)
        ScrollToEnd();
}

void CRichEditCtrlEx::ScrollToEnd() {
    // Once per turn of the event loop, however many runs were appended: scrolling lays the text out.
    if (scroll_pending_)
        return;
    scroll_pending_ = true;
    QTimer::singleShot(0, this, [this] {
        scroll_pending_ = false;
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    });
}

void CRichEditCtrlEx::AppendColouredText(const QString& text, const QColor& colour, bool exact_run,
                                         bool line_break) {
    QTextCharFormat f;
    f.setFontWeight(QFont::Normal);
    f.setFontItalic(false);
    f.setFontUnderline(false);
    f.setForeground(colour);
    AppendText(text, f, exact_run, line_break);
}

void CRichEditCtrlEx::SetDefaultFont() {
    SetDefaultFormat(locale_default_format(Qt::black));
}

QTextCharFormat CRichEditCtrlEx::DefaultFormat() const {
    return default_format_;
}

void CRichEditCtrlEx::SetDefaultFormat(const QTextCharFormat& format) {
    default_format_ = format;
    shown_format_ = installed_families_only(format);
    QFont font = document()->defaultFont();
    font.setFamilies(shown_format_.fontFamilies().toStringList());
    if (format.fontPointSize() > 0)
        font.setPointSizeF(format.fontPointSize());
    document()->setDefaultFont(font);
    setCurrentCharFormat(shown_format_);
}

void CRichEditCtrlEx::ClearText() {
    clear(); // also drops the document's image resources
    embedded_.clear();
    UpdateAnimation();
    setCurrentCharFormat(shown_format_);
}

void CRichEditCtrlEx::PickFont(bool default_mode) {
    QTextCursor cursor = textCursor();
    const QTextCharFormat start = cursor.hasSelection() ? cursor.charFormat() : DefaultFormat();
    ChatFontDialog dialog(start, this);
    keep_modal_dialog_up(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QTextCharFormat f;
    f.setFont(dialog.chosen_font());
    f.setForeground(dialog.colour());
    if (cursor.hasSelection()) {
        cursor.mergeCharFormat(f);
    } else if (default_mode) {
        QTextCharFormat merged = DefaultFormat();
        merged.merge(f);
        SetDefaultFormat(merged);
    } else {
        cursor.select(QTextCursor::WordUnderCursor);
        cursor.mergeCharFormat(f);
    }
}

bool CRichEditCtrlEx::InsertPicture(const QString& path, uint32_t user_value) {
    QTextCursor cursor = textCursor();
    if (!InsertPictureAt(cursor, path, user_value))
        return false;
    setTextCursor(cursor);
    // The caret now stands after the picture and would type in the picture's format: text goes on in the
    // default format.
    setCurrentCharFormat(shown_format_);
    ensureCursorVisible();
    return true;
}

bool CRichEditCtrlEx::AppendPicture(const QString& path, uint32_t user_value) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    if (!InsertPictureAt(cursor, path, user_value))
        return false;
    ScrollToEnd();
    return true;
}

bool CRichEditCtrlEx::InsertPictureAt(QTextCursor& cursor, const QString& path, uint32_t user_value) {
    const FaceLibrary::Face* face = FaceLibrary::Shared().Get(path);
    if (!face)
        return false;
    auto it = embedded_.find(path);
    if (it == embedded_.end()) {
        // One image resource per picture file, shared by every place the picture stands in the text.
        const QString name = "face:" + QString::number(embedded_.size());
        it = embedded_.emplace(path, Embedded{name, 0}).first;
    }
    const QString& name = it->second.name;
    // Given again at every insertion: emptying the document (clear, setPlainText) drops its resources, and a
    // still picture would never be given again by the animation.
    document()->addResource(QTextDocument::ImageResource, QUrl(name),
                            face->frames[size_t(it->second.frame)].first);
    QTextImageFormat image;
    image.setName(name);
    image.setWidth(face->size.width());
    image.setHeight(face->size.height());
    image.setVerticalAlignment(QTextCharFormat::AlignBottom);
    image.setProperty(kUserValueProperty, user_value);
    cursor.insertImage(image);
    UpdateAnimation();
    return true;
}

bool CRichEditCtrlEx::InsertFace(int index, bool take_focus) {
    if (index < 0 || index >= chat::kFaceCount)
        return false;
    const bool ok = InsertPicture(face_file(faces_folder_, index), uint32_t(index));
    ScrollToEnd();
    if (take_focus)
        setFocus();
    return ok;
}

int CRichEditCtrlEx::ObjectCount() const {
    int n = 0;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                n += int(it.fragment().length());
    return n;
}

std::vector<chat::Piece> CRichEditCtrlEx::Pieces() const {
    std::vector<chat::Piece> pieces;
    auto text = [&](const QString& s) {
        if (s.isEmpty())
            return;
        QString t = s;
        t.replace(QChar::LineSeparator, "\r\n");
        std::string gbk = qstring_to_gbk(t);
        if (!pieces.empty() && pieces.back().kind == chat::Piece::Text)
            pieces.back().text += gbk;
        else
            pieces.push_back(chat::Piece{chat::Piece::Text, std::move(gbk), 0});
    };
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        if (b != document()->begin())
            text("\r\n");
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            const QTextCharFormat f = frag.charFormat();
            if (f.isImageFormat() && f.hasProperty(kUserValueProperty)) {
                for (int i = 0; i < frag.length(); ++i)
                    pieces.push_back(
                        chat::Piece{chat::Piece::Face, {}, int32_t(f.property(kUserValueProperty).toUInt())});
            } else if (!f.isImageFormat()) {
                text(frag.text());
            }
        }
    }
    return pieces;
}

std::vector<std::pair<int, bool>> CRichEditCtrlEx::MenuEntries() const {
    const bool read_only = isReadOnly();
    const bool selection = textCursor().hasSelection();
    std::vector<std::pair<int, bool>> e;
    e.push_back({kUndo, document()->isUndoAvailable() && !read_only});
    e.push_back({-1, false});
    e.push_back({kCut, selection && !read_only});
    e.push_back({kCopy, selection});
    e.push_back({kPaste, canPaste() && !read_only});
    e.push_back({kClear, read_only ? clear_all_ : selection});
    e.push_back({-1, false});
    e.push_back({kSelectAll, true});
    if (font_entry_) {
        e.push_back({-1, false});
        e.push_back({kFont, true});
    }
    return e;
}

void CRichEditCtrlEx::RunCommand(int command) {
    switch (command) {
    case kUndo:
        undo();
        break;
    case kCut:
        cut();
        break;
    case kCopy:
        copy();
        break;
    case kPaste:
        paste();
        break;
    case kClear:
        if (isReadOnly() && clear_all_) {
            ClearText();
        } else {
            textCursor().removeSelectedText();
        }
        break;
    case kSelectAll:
        selectAll();
        break;
    case kFont:
        PickFont(false);
        break;
    default:
        break;
    }
}

void CRichEditCtrlEx::contextMenuEvent(QContextMenuEvent* e) {
    setFocus();
    static const std::map<int, const char*> kTexts = {
        {kUndo, chat_text::kMenuUndo},   {kCut, chat_text::kMenuCut},
        {kCopy, chat_text::kMenuCopy},   {kPaste, chat_text::kMenuPaste},
        {kClear, chat_text::kMenuClear}, {kSelectAll, chat_text::kMenuSelectAll},
        {kFont, chat_text::kMenuFont}};
    QMenu menu(this);
    for (const auto& [id, enabled] : MenuEntries()) {
        if (id < 0) {
            menu.addSeparator();
            continue;
        }
        QAction* a = menu.addAction(QString::fromUtf8(kTexts.at(id)));
        a->setEnabled(enabled);
        connect(a, &QAction::triggered, this, [this, id = id] { RunCommand(id); });
    }
    if (!extra_actions_.isEmpty()) {
        menu.addSeparator();
        menu.addActions(extra_actions_);
    }
    menu.exec(e->globalPos());
}

void CRichEditCtrlEx::keyPressEvent(QKeyEvent* e) {
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && sink_) {
        const Qt::KeyboardModifiers m = QApplication::queryKeyboardModifiers() | e->modifiers();
        sink_->OnReturnKey(m & Qt::ControlModifier, m & Qt::AltModifier, id_);
    }
    QTextEdit::keyPressEvent(e);
}

void CRichEditCtrlEx::mouseReleaseEvent(QMouseEvent* e) {
    // A click, not the end of a selection; asked before the base class, which selects a link it releases on
    // in a read-only log (its keyboard focus mark).
    const bool selecting = textCursor().hasSelection();
    QTextEdit::mouseReleaseEvent(e);
    if (e->button() != Qt::LeftButton || selecting)
        return;
    const QString href = anchorAt(e->position().toPoint());
    if (!href.isEmpty())
        QDesktopServices::openUrl(QUrl::fromUserInput(href));
}

// ---- face animation: the shared clock while a face of this control moves and shows ----

void CRichEditCtrlEx::showEvent(QShowEvent* e) {
    QTextEdit::showEvent(e);
    if (QWidget* w = window(); w != watched_window_) {
        if (watched_window_)
            watched_window_->removeEventFilter(this);
        watched_window_ = w;
        w->installEventFilter(this);
    }
    UpdateAnimation();
}

void CRichEditCtrlEx::hideEvent(QHideEvent* e) {
    QTextEdit::hideEvent(e);
    UpdateAnimation();
}

bool CRichEditCtrlEx::eventFilter(QObject* watched, QEvent* e) {
    if (watched == watched_window_ &&
        (e->type() == QEvent::WindowStateChange || e->type() == QEvent::Hide || e->type() == QEvent::Show))
        UpdateAnimation();
    return QTextEdit::eventFilter(watched, e);
}

void CRichEditCtrlEx::UpdateAnimation() {
    bool any_animated = false;
    for (const auto& [path, e] : embedded_) {
        const FaceLibrary::Face* face = FaceLibrary::Shared().Get(path);
        any_animated = any_animated || (face && face->frames.size() > 1);
    }
    const bool shown = isVisible() && !window()->isMinimized();
    if (any_animated && shown)
        AnimationClock::Shared().Subscribe(this);
    else
        AnimationClock::Shared().Unsubscribe(this);
}

void CRichEditCtrlEx::OnAnimationTick(qint64 now) {
    ++anim_ticks_;
    bool changed = false;
    for (auto& [path, e] : embedded_) {
        const FaceLibrary::Face* face = FaceLibrary::Shared().Get(path);
        if (!face)
            continue;
        const int frame = face->FrameAt(now);
        if (frame == e.frame)
            continue;
        e.frame = frame;
        document()->addResource(QTextDocument::ImageResource, QUrl(e.name),
                                face->frames[size_t(frame)].first);
        changed = true;
    }
    if (changed)
        viewport()->update();
}
