// The rich text control of the chat input and the message log, over QTextEdit: appending runs with a
// character format, a default font by locale, the font dialog, inline face pictures (one character position
// each, carrying a 32-bit user value, animated in place by the one animation clock of the rich-text controls
// while the control is visible and its window not minimised), the editing context menu with its enable rules,
// Return reported to an owner, and links detected in appended text and opened with the desktop's browser.
// Text is only ever inserted as plain text: nothing from the network is read as markup.
#pragma once

#include <QTextEdit>

#include <map>
#include <vector>

#include "chat/chat_codes.h"
#include "controls/AnimationClock.h"

class QAction;

// Told about the Return key.
class CRichEditEvent {
public:
    virtual ~CRichEditEvent() = default;
    virtual void OnReturnKey(bool ctrl_down, bool alt_down, int control_id) = 0;
};

class CRichEditCtrlEx : public QTextEdit, public AnimationClock::Listener {
    Q_OBJECT
public:
    // The property of a face's image format that holds its user value.
    static constexpr int kUserValueProperty = QTextFormat::UserProperty + 1;
    // Context menu commands.
    enum Command { kUndo = 101, kCut, kCopy, kPaste, kClear, kSelectAll, kFont };

    CRichEditCtrlEx(QWidget* parent, int control_id);
    ~CRichEditCtrlEx() override;

    // Scrolls to the last line once the current appends (or a change of size) are laid out.
    void ScrollToEnd();

    void set_font_entry(bool on) { font_entry_ = on; }
    void set_clear_all_when_read_only(bool on) { clear_all_ = on; }
    void set_event_sink(CRichEditEvent* sink) { sink_ = sink; }
    void set_faces_folder(const QString& folder) { faces_folder_ = folder; }
    const QString& faces_folder() const { return faces_folder_; }
    // Further entries at the end of the context menu (the owner keeps them).
    void set_extra_actions(const QList<QAction*>& actions) { extra_actions_ = actions; }
    int control_id() const { return id_; }

    // Appends at the end: with `exact_run` the format goes to the new text only, otherwise to the whole last
    // line; `line_break` ends the line.
    void AppendText(const QString& text, const QTextCharFormat& format, bool exact_run, bool line_break);
    void AppendColouredText(const QString& text, const QColor& colour, bool exact_run, bool line_break);
    // 10 points, black, plain; 宋体 for a Chinese system locale, a sans serif font otherwise.
    void SetDefaultFont();
    // The default character format: the font chosen for the control, which every line is sent with. It is
    // the control's own state, not the format at the caret (which is a picture's after a face, and names
    // only the installed ones of its families).
    QTextCharFormat DefaultFormat() const;
    void SetDefaultFormat(const QTextCharFormat& format);
    // Empties the text, forgets the embedded pictures, and types on in the default format.
    void ClearText();
    // The font dialog: the choice goes to the selection, else (default mode) becomes the default format,
    // else to the word at the caret.
    void PickFont(bool default_mode);

    // Embeds a picture at the caret; false when the file is not a picture.
    bool InsertPicture(const QString& path, uint32_t user_value);
    // Embeds a picture at the end of the text, leaving the caret alone.
    bool AppendPicture(const QString& path, uint32_t user_value);
    // The face of `index` from the faces folder, scrolled into view, optionally taking the focus.
    bool InsertFace(int index, bool take_focus);
    // Faces embedded in the text.
    int ObjectCount() const;
    // The text as pieces of GBK text and faces, line breaks as CR LF.
    std::vector<chat::Piece> Pieces() const;

    // The context menu as it would open now (for the owner's tests): entry ids with their enabled state, -1
    // for a separator.
    std::vector<std::pair<int, bool>> MenuEntries() const;
    void RunCommand(int command);
    // Whether this control's faces follow the animation clock now.
    bool animating() const { return AnimationClock::Shared().subscribed(this); }
    int animation_ticks() const { return anim_ticks_; }
    // AnimationClock::Listener: shows each face's frame of this moment.
    void OnAnimationTick(qint64 elapsed_ms) override;

protected:
    void contextMenuEvent(QContextMenuEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void InsertWithLinks(QTextCursor& cursor, const QString& text, const QTextCharFormat& format);
    bool InsertPictureAt(QTextCursor& cursor, const QString& path, uint32_t user_value);
    void UpdateAnimation();

    int id_;
    bool font_entry_ = true;
    bool clear_all_ = true;
    CRichEditEvent* sink_ = nullptr;
    QString faces_folder_;
    QList<QAction*> extra_actions_;
    QObject* watched_window_ = nullptr;
    QTextCharFormat default_format_;
    QTextCharFormat shown_format_; // the default format as typed text is drawn: its installed families only

    // The pictures embedded so far, by file, with their resource name and the frame they show now.
    struct Embedded {
        QString name;
        int frame = 0;
    };
    std::map<QString, Embedded> embedded_;
    int anim_ticks_ = 0;
    bool scroll_pending_ = false;
};
