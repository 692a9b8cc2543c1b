// Skin button component (see CWINButton.h).
#include "components/CWINButton.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QPen>
#include <QWidget>

#include <utility>

#include "components/colour_key.h"

namespace {
QImage keyed(const QImage& image, uint32_t key) {
    return image.isNull() || key == CWINButton::kNoKey ? image : with_colour_key(image, key);
}
} // namespace

CWINButton::CWINButton() = default;

CWINButton::~CWINButton() {
    Restore();
}

void CWINButton::SetItemHandle(QWidget* control) {
    Restore();
    control_ = control;
    if (!control_)
        return;
    old_tool_tip_ = control_->toolTip();
    control_->setAttribute(Qt::WA_Hover, true);
    control_->installEventFilter(this);
    Update();
}

void CWINButton::SetBackPic(const QImage& picture, int) {
    pictures_[kNormal] = picture;
    Update();
}
void CWINButton::SetHoverPic(const QImage& picture) {
    pictures_[kHover] = picture;
    Update();
}
void CWINButton::SetPressPic(const QImage& picture) {
    pictures_[kPressed] = picture;
    Update();
}

void CWINButton::SetColorKey(int use) {
    use_keys_ = use != 0;
    Update();
}
void CWINButton::SetColorKey(uint32_t normal, uint32_t hover, uint32_t pressed) {
    keys_[0] = normal;
    keys_[1] = hover;
    keys_[2] = pressed;
    Update();
}
void CWINButton::SetColorKey2(uint32_t normal, uint32_t hover, uint32_t pressed) {
    keys2_[0] = normal;
    keys2_[1] = hover;
    keys2_[2] = pressed;
}
void CWINButton::SwapColorKey() {
    for (int i = 0; i < 3; ++i)
        std::swap(keys_[i], keys2_[i]);
    Update();
}

void CWINButton::SetToolTip(const QString& text) {
    if (control_)
        control_->setToolTip(text);
}

void CWINButton::Restore() {
    if (!control_)
        return;
    control_->removeEventFilter(this);
    control_->setToolTip(old_tool_tip_);
    control_->update();
    control_ = nullptr;
}

CWINButton::State CWINButton::CurrentState() const {
    auto* button = qobject_cast<QAbstractButton*>(control_.data());
    if (button && button->isDown() && !pictures_[kPressed].isNull())
        return kPressed;
    if (hover_ && !pictures_[kHover].isNull())
        return kHover;
    return kNormal;
}

QImage CWINButton::CurrentPicture() const {
    const State s = CurrentState();
    return use_keys_ ? keyed(pictures_[s], keys_[s]) : pictures_[s];
}

void CWINButton::Update() {
    if (control_)
        control_->update();
}

bool CWINButton::eventFilter(QObject* watched, QEvent* event) {
    if (watched != control_)
        return false;
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::Enter:
        hover_ = true;
        Update();
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        hover_ = false;
        Update();
        break;
    case QEvent::FocusIn: {
        const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
        keyboard_focus_ = why == Qt::TabFocusReason || why == Qt::BacktabFocusReason;
        Update();
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::FocusOut:
        Update();
        break;
    case QEvent::Paint: {
        const QImage picture = CurrentPicture();
        if (picture.isNull())
            return false; // without a picture the control draws itself
        QPainter painter(control_);
        painter.drawImage(control_->rect(), picture);
        // Where the keyboard is, once it is used to move: a ring that shows on any picture.
        if (control_->hasFocus() && keyboard_focus_) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(QColor(255, 160, 0), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(control_->rect()).adjusted(1, 1, -1, -1), 3, 3);
        }
        return true;
    }
    default:
        break;
    }
    return false;
}
