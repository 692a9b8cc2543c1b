// Bitmap slider (see CBitmapSlider.h).
#include "skin/CBitmapSlider.h"

#include <QFocusEvent>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cstdlib>

#include "components/colour_key.h"
#include "platform/controls.h"
#include "platform/message_ids.h"
#include "platform/messages.h"
#include "skin/CSkinBitmap.h"

namespace {
// A bitmap with its top-left pixel's colour transparent; null when the file cannot be read.
QImage load_keyed(const QString& path) {
    QImage image;
    if (!load_picture_file(path, image))
        return QImage();
    return with_colour_key(image, colour_ref_of(image.pixel(0, 0)));
}
} // namespace

CBitmapSlider::CBitmapSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

int CBitmapSlider::control_id() const {
    return ::control_id(this);
}

bool CBitmapSlider::LoadChannelBitmaps(const QString& normal, const QString& active) {
    channel_ = active_channel_ = QImage();
    if (normal.isNull())
        return true;
    channel_ = load_keyed(normal);
    if (channel_.isNull())
        return false;
    if (!active.isNull()) {
        active_channel_ = load_keyed(active);
        if (active_channel_.isNull()) {
            channel_ = QImage();
            return false;
        }
    }
    width_ = channel_.width();
    height_ = channel_.height();
    resize(width_, height_);
    update();
    return true;
}

bool CBitmapSlider::LoadThumbBitmaps(const QString& normal, const QString& active) {
    thumb_ = active_thumb_ = QImage();
    if (normal.isNull())
        return true;
    thumb_ = load_keyed(normal);
    if (thumb_.isNull())
        return false;
    if (!active.isNull()) {
        active_thumb_ = load_keyed(active);
        if (active_thumb_.isNull()) {
            thumb_ = QImage();
            return false;
        }
    }
    if (channel_.isNull()) {
        width_ = width();
        height_ = height();
    }
    update();
    return true;
}

void CBitmapSlider::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
}

void CBitmapSlider::SetMargin(int left, int top, int right, int bottom) {
    margin_left_ = left;
    margin_top_ = top;
    margin_right_ = right;
    margin_bottom_ = bottom;
}

void CBitmapSlider::SetPosition(int position) {
    if (position > maximum_)
        position = maximum_;
    if (position < minimum_)
        position = minimum_;
    position_ = position;
    Describe();
    update();
}

void CBitmapSlider::SetLabel(const QString& label) {
    label_ = label;
    setAccessibleName(label);
    Describe();
}

void CBitmapSlider::Describe() {
    // The value in the tool tip and for a screen reader, as the slider moves.
    if (label_.isEmpty())
        return;
    const QString value = QString("%1%").arg(position_);
    setToolTip(label_ + ": " + value);
    setAccessibleDescription(value);
}

void CBitmapSlider::Enable(bool enabled) {
    enabled_ = enabled;
    update();
}

SliderGeometry CBitmapSlider::Geometry() const {
    SliderGeometry g;
    g.minimum = minimum_;
    g.maximum = maximum_;
    g.length = width_;
    g.thumb_length = thumb_.width();
    g.start_margin = margin_left_;
    g.end_margin = margin_right_;
    return g;
}

void CBitmapSlider::Notify(unsigned message) {
    platform::post_message(parentWidget(), message, control_id(), position_);
}

void CBitmapSlider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int pixel = Geometry().pixel_of(position_);
    if (!channel_.isNull()) {
        if (!active_channel_.isNull() && enabled_) {
            p.drawImage(QPoint(0, 0), active_channel_, QRect(0, 0, pixel, height_));
            p.drawImage(QPoint(pixel, 0), channel_, QRect(pixel, 0, width_ - pixel, height_));
        } else {
            p.drawImage(QPoint(0, 0), channel_);
        }
    }
    if (!thumb_.isNull() && enabled_) {
        const QImage& t = dragging_ && !active_thumb_.isNull() ? active_thumb_ : thumb_;
        p.drawImage(QPoint(pixel - t.width() / 2, margin_top_), t);
    }
    if ((draw_focus_rect_ || keyboard_focus_) && hasFocus() && enabled_) {
        p.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CBitmapSlider::focusInEvent(QFocusEvent* e) {
    keyboard_focus_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason;
    update();
}

void CBitmapSlider::mousePressEvent(QMouseEvent* e) {
    if (!enabled_ || e->button() != Qt::LeftButton)
        return;
    setFocus();
    dragging_ = true;
    const int d = Along(e->position().toPoint()) - Geometry().pixel_of(position_);
    // On the thumb, it is held where it was grabbed; elsewhere its centre jumps under the cursor.
    drag_offset_ = std::abs(d) <= thumb_.width() / 2 ? d : 0;
    MoveTo(Along(e->position().toPoint()));
    update();
}

void CBitmapSlider::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_ && enabled_)
        MoveTo(Along(e->position().toPoint()));
}

void CBitmapSlider::MoveTo(int along) {
    const SliderGeometry g = Geometry();
    const int v = g.clamp_pixel(along - drag_offset_);
    if (v == g.pixel_of(position_))
        return;
    position_ = g.clamp_position(g.position_of(v));
    Describe();
    update();
    Notify(msg::kSliderMoving);
}

void CBitmapSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (!enabled_ || e->button() != Qt::LeftButton)
        return;
    dragging_ = false;
    update();
    Notify(msg::kSliderReleased);
}

void CBitmapSlider::keyPressEvent(QKeyEvent* e) {
    if (!enabled_) {
        e->ignore();
        return;
    }
    SliderKey key;
    switch (e->key()) {
    case Qt::Key_PageUp:
        key = SliderKey::PageUp;
        break;
    case Qt::Key_PageDown:
        key = SliderKey::PageDown;
        break;
    case Qt::Key_End:
        key = SliderKey::End;
        break;
    case Qt::Key_Home:
        key = SliderKey::Home;
        break;
    case Qt::Key_Left:
        key = SliderKey::Left;
        break;
    case Qt::Key_Up:
        key = SliderKey::Up;
        break;
    case Qt::Key_Right:
        key = SliderKey::Right;
        break;
    case Qt::Key_Down:
        key = SliderKey::Down;
        break;
    default:
        QWidget::keyPressEvent(e);
        return;
    }
    SetPosition(slider_key_position(Geometry(), position_, page_size_, key));
    Notify(msg::kSliderReleased);
}
