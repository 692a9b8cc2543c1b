// The chat input panel: the rich-text input with faces, the recipient list ("所有人" or one user), the
// private box, and the skinned send, font, face and snapshot buttons. A line is encoded with its face codes,
// sent as packet type 2 and echoed into the message log; Return sends, Ctrl+Return breaks the line, Escape
// does nothing. The recipient list follows the room.
#pragma once

#include <QBasicTimer>
#include <QWidget>

#include <memory>

#include "chat/CRichEditCtrlEx.h"
#include "platform/messages.h"
#include "session/call_back.h"
#include "session/panels.h"
#include "skin/CSkinButtons.h"

class QComboBox;
class QPushButton;
class ClxCheckBox;
class ClxStatic;
class CFaceDlg;

class CChatDlg : public QWidget, public IChatInput, public CRichEditEvent, public platform::MessageTarget {
public:
    // Control ids of the panel.
    enum Control {
        kRecipients = 1013,
        kPrivateBox = 1014,
        kFaceButton = 1015,
        kFontButton = 1016,
        kLabel = 1017,
        kInput = 1018,
        kSendButton = 1019,
        kSnapshotButton = 1087,
    };
    // Build the face picker this long after set-up, unless the face button asks earlier.
    static constexpr int kFacePickerDelayMs = 2000;

    CChatDlg(call_back* cb, ISessionActions* actions, const std::string& install_folder, QWidget* parent);
    ~CChatDlg() override;

    // IChatInput
    void ResetRecipients() override;
    void AddRecipient(uint32_t user_id, const std::string& nickname) override;
    void OnUserLeft(uint32_t user_id) override;

    // CRichEditEvent
    void OnReturnKey(bool ctrl_down, bool alt_down, int control_id) override;

    // The encoded input (face codes, CR LF, the terminating zero); empty when there is nothing to send.
    std::vector<uint8_t> EncodeInput() const;
    void SendChatLine();
    void ToggleFacePopup();
    void OnFaceChosen(intptr_t wparam, int index);

    CRichEditCtrlEx* input() const { return input_; }
    QComboBox* recipients() const { return recipients_; }
    ClxCheckBox* private_box() const { return private_box_; }
    CFaceDlg* face_popup() const { return face_popup_.get(); }
    CSkinButtons& skin_buttons() { return skin_; }

    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;
    // Who is told that the own line went out (none by default).
    void set_observer(IPanelObserver* o) { observer_ = o; }

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    // The buttons the panel keeps no pointer to; set-up wires them.
    struct Buttons {
        QPushButton* font = nullptr;
        QPushButton* send = nullptr;
        QPushButton* snapshot = nullptr;
    };
    // Set-up, in this order.
    void MakeLabelAndRecipients();
    Buttons MakeButtons();
    void MakePrivateBox();
    void MakeInput(const std::string& install_folder);
    void LoadSkin(const std::string& install_folder, const Buttons& buttons);
    void ConnectButtons(const Buttons& buttons);
    void SetTabOrder(const Buttons& buttons);
    void NameControls();

    void Notice(const char* utf8);
    // The recipient entry of a user (-1 when none); entries after entry 0 carry the user id.
    int RecipientEntry(uint32_t user_id) const;
    // Names the entries: a nickname that two users in the room share is followed by each one's user id, so
    // that a private line goes to the one the user meant.
    void LabelRecipients();
    // Return in the input: a line break with Ctrl, otherwise the line is sent.
    void HandleReturn(bool ctrl_down);
    void MakeFacePopup();
    void Layout();

    call_back* cb_;
    ISessionActions* actions_;
    IPanelObserver* observer_ = nullptr;
    QString faces_folder_;
    std::unique_ptr<CFaceDlg> face_popup_;
    CRichEditCtrlEx* input_;
    QComboBox* recipients_;
    ClxCheckBox* private_box_;
    ClxStatic* label_;
    QPushButton* face_button_;
    CSkinButtons skin_;
    QBasicTimer face_timer_;
    bool initialised_ = false;
};
