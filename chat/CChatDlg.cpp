// The chat input panel (see CChatDlg.h).
#include "chat/CChatDlg.h"

#include <QComboBox>
#include <QDateTime>
#include <QHash>
#include <QKeyEvent>
#include <QPushButton>

#include "chat/CFaceDlg.h"
#include "chat/ChatLogEntry.h"
#include "chat/chat_format.h"
#include "chat/chat_texts.h"
#include "config/client_config.h"
#include "platform/controls.h"
#include "platform/message_ids.h"
#include "platform/paths.h"
#include "platform/qtext.h"
#include "platform/thread_rule.h"
#include "session/requests.h"
#include "session/user_record.h"
#include "skin/ClxStatic.h"
#include "wire/packet_types.h"

namespace {

QPushButton* make_button(QWidget* parent, int id, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), parent);
    set_control_id(b, id);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

} // namespace

CChatDlg::CChatDlg(call_back* cb, ISessionActions* actions, const std::string& install_folder,
                   QWidget* parent)
    : QWidget(parent), cb_(cb), actions_(actions) {
    // The controls are made in this order: it is the order they are painted and found in.
    MakeLabelAndRecipients();
    const Buttons buttons = MakeButtons();
    MakePrivateBox();
    MakeInput(install_folder);
    LoadSkin(install_folder, buttons);
    ConnectButtons(buttons);
    SetTabOrder(buttons);
    NameControls();
    ResetRecipients();
    face_timer_.start(kFacePickerDelayMs, this);
    initialised_ = true;
}

void CChatDlg::MakeLabelAndRecipients() {
    label_ = new ClxStatic(this);
    set_control_id(label_, kLabel);
    label_->setText(QString::fromUtf8(chat_text::kLabel));
    label_->colours.transparent = true;
    label_->colours.text = colour(kChatMyColor);
    label_->Refresh();
    label_->adjustSize();

    recipients_ = new QComboBox(this);
    set_control_id(recipients_, kRecipients);
    recipients_->setMinimumContentsLength(8);
    recipients_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    recipients_->adjustSize();
}

CChatDlg::Buttons CChatDlg::MakeButtons() {
    Buttons b;
    b.font = make_button(this, kFontButton, "A");
    face_button_ = make_button(this, kFaceButton, "FACE");
    b.send = make_button(this, kSendButton, "Send");
    b.snapshot = make_button(this, kSnapshotButton, "SNAP");
    return b;
}

void CChatDlg::MakePrivateBox() {
    private_box_ = new ClxCheckBox(this);
    set_control_id(private_box_, kPrivateBox);
    private_box_->setText(QString::fromUtf8(chat_text::kPrivate));
    private_box_->colours.transparent = true;
    private_box_->colours.text = colour(kChatChkColor);
    private_box_->Refresh();
    private_box_->adjustSize();
    private_box_->setFocusPolicy(Qt::TabFocus);
}

void CChatDlg::MakeInput(const std::string& install_folder) {
    input_ = new CRichEditCtrlEx(this, kInput);
    set_control_id(input_, kInput);
    faces_folder_ = QString::fromStdString(path_join(install_folder, "Faces"));
    input_->set_faces_folder(faces_folder_);
    QPalette pal = input_->palette();
    pal.setColor(QPalette::Base, colour_of(colour(kChatInput)));
    input_->setPalette(pal);
    input_->setLineWrapMode(QTextEdit::WidgetWidth);
    input_->SetDefaultFont();
    input_->set_font_entry(false);
    input_->set_event_sink(this);
    input_->installEventFilter(this);
    installEventFilter(this);
}

void CChatDlg::LoadSkin(const std::string& install_folder, const Buttons& buttons) {
    skin_.dialog = this;
    skin_.skin_folder = path_join(install_folder, "ui");
    skin_.Load(path_join(skin_.skin_folder, "chat.txt"));
    if (skin_.count() > 3)
        buttons.snapshot->hide();
}

void CChatDlg::ConnectButtons(const Buttons& buttons) {
    connect(buttons.send, &QPushButton::clicked, this, [this] { SendChatLine(); });
    connect(buttons.font, &QPushButton::clicked, this, [this] {
        QTextCursor c = input_->textCursor();
        c.clearSelection();
        input_->setTextCursor(c);
        input_->PickFont(true);
    });
    connect(face_button_, &QPushButton::clicked, this, [this] { ToggleFacePopup(); });
}

void CChatDlg::SetTabOrder(const Buttons& buttons) {
    // With the keyboard: from the text to sending, then to the choices around it.
    QWidget::setTabOrder(input_, buttons.send);
    QWidget::setTabOrder(buttons.send, recipients_);
    QWidget::setTabOrder(recipients_, private_box_);
    QWidget::setTabOrder(private_box_, buttons.font);
    QWidget::setTabOrder(buttons.font, face_button_);
    QWidget::setTabOrder(face_button_, buttons.snapshot);
}

void CChatDlg::NameControls() {
    // Names and tool tips for a screen reader and the mouse.
    recipients_->setAccessibleName(QString::fromUtf8(chat_text::kRecipientsName));
    recipients_->setToolTip(QString::fromUtf8(chat_text::kRecipientsName));
    private_box_->setAccessibleName(QString::fromUtf8(chat_text::kPrivate));
    private_box_->setToolTip(QString::fromUtf8(chat_text::kPrivateTip));
    input_->setAccessibleName(QString::fromUtf8(chat_text::kInputName));
    input_->setAccessibleDescription(QString::fromUtf8(chat_text::kInputTip));
    input_->setToolTip(QString::fromUtf8(chat_text::kInputTip));
}

CChatDlg::~CChatDlg() = default;

bool CChatDlg::event(QEvent* e) {
    return platform::dispatch_message(e, *this) || QWidget::event(e);
}

void CChatDlg::on_message(unsigned id, intptr_t wparam, intptr_t lparam) {
    if (id == msg::kFaceChosen)
        OnFaceChosen(wparam, int(lparam));
}

void CChatDlg::Notice(const char* utf8) {
    std::string text = utf8_to_gbk(utf8);
    req::NoticeLine(*cb_, text);
}

// ---- recipients ----

void CChatDlg::ResetRecipients() {
    ASSERT_UI_THREAD();
    recipients_->clear();
    recipients_->addItem(QString::fromUtf8(chat_text::kEveryone));
    recipients_->setCurrentIndex(0);
}

namespace {
// The nickname of a recipient entry, beside the user id in its data.
constexpr int kNicknameRole = Qt::UserRole + 1;
} // namespace

void CChatDlg::AddRecipient(uint32_t user_id, const std::string& nickname) {
    ASSERT_UI_THREAD();
    const QString name = gbk_to_qstring(nickname);
    recipients_->addItem(name, QVariant::fromValue(user_id));
    recipients_->setItemData(recipients_->count() - 1, name, kNicknameRole);
    LabelRecipients();
}

void CChatDlg::LabelRecipients() {
    QHash<QString, int> uses;
    for (int i = 1; i < recipients_->count(); ++i)
        ++uses[recipients_->itemData(i, kNicknameRole).toString()];
    for (int i = 1; i < recipients_->count(); ++i) {
        const QString name = recipients_->itemData(i, kNicknameRole).toString();
        const QString text = uses.value(name) > 1
                                 ? QStringLiteral("%1 (%2)").arg(name).arg(recipients_->itemData(i).toUInt())
                                 : name;
        if (recipients_->itemText(i) != text)
            recipients_->setItemText(i, text);
    }
}

int CChatDlg::RecipientEntry(uint32_t user_id) const {
    for (int i = 1; i < recipients_->count(); ++i)
        if (recipients_->itemData(i).isValid() && recipients_->itemData(i).toUInt() == user_id)
            return i;
    return -1;
}

void CChatDlg::OnUserLeft(uint32_t user_id) {
    ASSERT_UI_THREAD();
    const UserRecord* leaving = req::FindUser(*cb_, user_id);
    if (!leaving)
        return;
    // By user id: two users may share a nickname, or differ only in case.
    const int at = RecipientEntry(user_id);
    if (at < 0)
        return;
    const bool was_selected = recipients_->currentIndex() == at;
    recipients_->removeItem(at);
    LabelRecipients();
    std::string line = req::DisplayName(*cb_, user_id) + utf8_to_gbk(chat_text::kUserLeft);
    req::NoticeLine(*cb_, line);
    // The list must not quietly pick another user for a private line: back to everyone, and say so.
    if (was_selected) {
        recipients_->setCurrentIndex(0);
        Notice(chat_text::kRecipientGone);
    }
}

// ---- sending ----

std::vector<uint8_t> CChatDlg::EncodeInput() const {
    const std::vector<chat::Piece> pieces = input_->Pieces();
    if (pieces.empty())
        return {};
    return chat::Encode(pieces);
}

void CChatDlg::SendChatLine() {
    if (!req::Connected(*cb_))
        return;
    if (!req::HasRights(*cb_, pkt::kRightChat))
        return;
    std::vector<uint8_t> encoded = EncodeInput();
    if (encoded.empty())
        return;
    if (encoded.size() > chat::kMaxEncodedText) {
        Notice(chat_text::kTooLong);
        return;
    }
    if (recipients_->currentIndex() < 0) {
        recipients_->setCurrentIndex(0);
        Notice(chat_text::kRecipientGone);
    }

    OutgoingChatLine line;
    std::string recipient_name;
    if (recipients_->currentIndex() == 0) {
        line.target = pkt::kEveryone;
        line.private_line = false;
        recipient_name = utf8_to_gbk(chat_text::kAll);
    } else {
        // The entry's user, by id. A user who is no longer in the room gets nothing: a line meant for one
        // person never goes to everyone, nor to another user of the same name.
        const uint32_t user_id = recipients_->currentData().toUInt();
        const UserRecord* recipient = req::FindUser(*cb_, user_id);
        if (!recipient) {
            recipients_->removeItem(recipients_->currentIndex());
            LabelRecipients();
            recipients_->setCurrentIndex(0);
            Notice(chat_text::kRecipientGone);
            return; // the input keeps its text
        }
        // The echo names the recipient as the list does (with the user id where two share a nickname).
        recipient_name = qstring_to_gbk(recipients_->currentText());
        line.target = user_id;
        line.private_line = private_box_->isChecked();
    }
    const ChatFont font = chat_font_of(input_->DefaultFormat());
    line.font_face = font.face;
    line.effects = font.effects;
    line.height = font.height;
    line.colour = font.colour;
    line.text.assign(encoded.begin(), encoded.end() - 1); // the encoder's terminator is added again
    if (!actions_ || !actions_->SendChatLine(line))
        return; // the input keeps its text

    const QTime now = QTime::currentTime();
    ChatLogEntry echo;
    char header[160];
    std::snprintf(header, sizeof header, utf8_to_gbk(chat_text::kOwnHeader).c_str(), now.hour(), now.minute(),
                  now.second(), recipient_name.c_str());
    echo.header = header;
    if (line.private_line) {
        echo.header = utf8_to_gbk(chat_text::kPrivateLabel) + echo.header;
        echo.header_colour = kPrivateHeaderColour;
    }
    echo.text = std::move(encoded);
    echo.font = font;
    req::ChatLine(*cb_, echo);
    if (observer_)
        observer_->ChatSent(line.target);
    input_->ClearText();
}

void CChatDlg::OnReturnKey(bool ctrl_down, bool, int) {
    if (input_->hasFocus())
        HandleReturn(ctrl_down);
}

void CChatDlg::HandleReturn(bool ctrl_down) {
    if (ctrl_down) {
        QTextCursor c = input_->textCursor();
        c.clearSelection();
        c.insertBlock();
        input_->setTextCursor(c);
    } else {
        SendChatLine();
    }
}

bool CChatDlg::eventFilter(QObject* watched, QEvent* e) {
    // The panel's key filter: Return sends (or breaks the line with Ctrl) before the input sees it, and
    // Escape never closes anything.
    if (e->type() == QEvent::KeyPress && (watched == input_ || watched == this)) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            // A key that reached the input is the input's, whatever the window system says of the focus.
            if (watched == input_)
                HandleReturn(k->modifiers() & Qt::ControlModifier);
            else
                OnReturnKey(k->modifiers() & Qt::ControlModifier, k->modifiers() & Qt::AltModifier, 0);
            return true;
        }
        if (k->key() == Qt::Key_Escape)
            return true;
    }
    return QWidget::eventFilter(watched, e);
}

// ---- faces ----

void CChatDlg::MakeFacePopup() {
    if (!face_popup_)
        face_popup_ = std::make_unique<CFaceDlg>(faces_folder_, this);
}

void CChatDlg::timerEvent(QTimerEvent* e) {
    if (e->timerId() == face_timer_.timerId()) {
        face_timer_.stop();
        MakeFacePopup();
    }
    QWidget::timerEvent(e);
}

void CChatDlg::ToggleFacePopup() {
    MakeFacePopup();
    if (face_popup_->isVisible()) {
        face_popup_->hide();
        return;
    }
    face_popup_->show();
    face_popup_->PlacePopup(QRect(face_button_->mapToGlobal(QPoint(0, 0)), face_button_->size()));
}

void CChatDlg::OnFaceChosen(intptr_t wparam, int index) {
    if (wparam != 0 && index >= 0)
        input_->InsertFace(index, true);
    if (face_popup_)
        face_popup_->hide();
}

// ---- layout ----

void CChatDlg::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (initialised_)
        Layout();
}

void CChatDlg::Layout() {
    const int cx = width(), cy = height();
    input_->setGeometry(4, 4, cx - 8, cy - 38);
    // Skin button K, or without a skin the template's buttons in the same order.
    static const int kTemplateOrder[4] = {kSendButton, kFontButton, kFaceButton, kSnapshotButton};
    auto button = [this](int k) -> QWidget* {
        if (k < skin_.count() && skin_.entry(k).button)
            return skin_.entry(k).button->GetItemHandle();
        return skin_.count() == 0 ? get_dlg_item(this, kTemplateOrder[k]) : nullptr;
    };
    auto width_of = [&](int k) {
        if (k < skin_.count())
            return skin_.entry(k).width;
        QWidget* b = button(k);
        return b ? b->sizeHint().width() : 0;
    };
    if (skin_.count() == 0)
        for (int k = 0; k < 4; ++k)
            if (QWidget* b = button(k))
                b->resize(b->sizeHint());
    if (QWidget* b0 = button(0))
        b0->move(cx - width_of(0) - 4, cy - 30);
    label_->move(8, cy - 24);
    recipients_->move(label_->width() + 8, cy - 28);
    int x = label_->width() + recipients_->width() + 14;
    for (int k = 1; k <= 3; ++k) {
        if (QWidget* b = button(k))
            b->move(x, cy - 27);
        x += width_of(k) + 6;
    }
    // The box follows button 3's place, which is kept even while the button is hidden.
    private_box_->move(x - 6 + 10, cy - 25);
    update();
}
