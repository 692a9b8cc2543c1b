// The message log panel: one read-only rich text with chat lines (a blue time-stamped header, then the body
// in the sender's font with faces turned back into animated pictures), notice lines (blue time stamp, red
// text), system texts and, while the detail switch of the context menu is on, debug lines. A received chat
// line plays the message sound.
#pragma once

#include <QAction>

#include <QWidget>
#include <functional>

#include "chat/CRichEditCtrlEx.h"
#include "chat/ChatLogEntry.h"
#include "session/call_back.h"
#include "session/panels.h"

class CMsgDlg : public QWidget, public IMessageLog {
public:
    // Cuts of the texts the log writes.
    static constexpr size_t kMaxHeaderBytes = 127;
    static constexpr size_t kMaxNoticeBytes = 259;

    CMsgDlg(call_back* cb, ISound* sound, const std::string& install_folder, QWidget* parent);

    // IMessageLog
    void AddNoticeLine(const std::string& text) override;
    void AddDebugLine(const std::string& text) override;
    void AppendChatLine(const ChatLogEntry* entry) override;
    void OnChatLine(const IncomingChatLine& line) override;
    void AddSystemText(const std::string& text) override;
    void AddFileNoticeLine(const std::string& text, const std::string& utf8_path) override;
    bool DetailOn() override { return detail_->isChecked(); }

    CRichEditCtrlEx* log() const { return log_; }
    QAction* detail_switch() const { return detail_; }
    QAction* save_text_action() const { return save_text_; }
    QAction* save_html_action() const { return save_html_; }
    // The log as plain text (faces as a marker) and as a web page with the faces inside it.
    QString PlainLog() const;
    QString HtmlLog() const;
    // Writes the log to a file; false when it could not be written.
    bool SaveLog(const QString& path, bool html);
    // Asks for a file (the menu's save entries) and saves there, with a notice either way.
    void SaveAs(bool html);
    // How the file is chosen; a test answers instead of the file dialog. Empty: nothing saved.
    std::function<QString(bool html)> choose_file;
    // Who is told what the log has shown (none by default).
    void set_observer(IPanelObserver* o) { observer_ = o; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void SetParagraph(int indent_twips, int offset_twips);
    QTextCharFormat NoticeFormat() const;

    call_back* cb_;
    ISound* sound_;
    IPanelObserver* observer_ = nullptr;
    std::string sound_file_;
    CRichEditCtrlEx* log_;
    QAction* detail_;
    QAction* save_text_ = nullptr;
    QAction* save_html_ = nullptr;
};
