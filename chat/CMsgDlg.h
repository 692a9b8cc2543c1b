// The message log panel: one read-only rich text with chat lines (a blue time-stamped header, then the body
// in the sender's font with faces turned back into animated pictures), notice lines (blue time stamp, red
// text), system texts and, while the detail switch of the context menu is on, debug lines. A received chat
// line plays the message sound.
#pragma once

#include <QAction>
#include <QWidget>

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
    bool DetailOn() override { return detail_->isChecked(); }

    CRichEditCtrlEx* log() const { return log_; }
    QAction* detail_switch() const { return detail_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void SetParagraph(int indent_twips, int offset_twips);
    QTextCharFormat NoticeFormat() const;

    call_back* cb_;
    ISound* sound_;
    std::string sound_file_;
    CRichEditCtrlEx* log_;
    QAction* detail_;
};
