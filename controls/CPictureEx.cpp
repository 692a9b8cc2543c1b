// The animated picture control (see CPictureEx.h).
#include "controls/CPictureEx.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

#include "platform/gbk.h"
#include "platform/message_ids.h"
#include "platform/messages.h"
#include "platform/qtext.h"

CPictureEx::CPictureEx(QWidget* parent, int control_id) : QWidget(parent), id_(control_id) {}

CPictureEx::~CPictureEx() {
    timer_.stop();
}

bool CPictureEx::LoadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Clear();
        return false;
    }
    return LoadData(file.readAll());
}

bool CPictureEx::LoadData(const QByteArray& data) {
    Clear();
    if (!composer_.Load(data))
        return false;
    if (!stretch_)
        resize(composer_.size());
    return true;
}

bool CPictureEx::LoadImage(const QImage& image) {
    Clear();
    if (!composer_.LoadImage(image))
        return false;
    if (!stretch_)
        resize(composer_.size());
    return true;
}

void CPictureEx::Clear() {
    timer_.stop();
    playing_ = false;
    composer_.Clear();
    setToolTip(QString());
    update();
}

void CPictureEx::Play() {
    if (!composer_.loaded())
        return;
    composer_.Start();
    if (composer_.animated()) {
        playing_ = true;
        half_step_ = false;
        // The first frame is drawn at once rather than a tick later, so a picture never opens blank.
        Step();
        if (!isVisible())
            timer_.stop();
    }
    update();
}

bool CPictureEx::SetTipText(const std::string& gbk) {
    tip_ = gbk.substr(0, gbk_fit(gbk, kMaxTipBytes));
    setToolTip(gbk_to_qstring(tip_));
    return true;
}

void CPictureEx::timerEvent(QTimerEvent* e) {
    if (e->timerId() == timer_.timerId())
        Step();
}

void CPictureEx::Step() {
    if (!half_step_) {
        composer_.DrawCurrent();
        update();
        timer_.start(composer_.StepMs(), this);
        half_step_ = true;
    } else {
        composer_.DisposeCurrentAndAdvance();
        half_step_ = false;
    }
}

void CPictureEx::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (composer_.loaded()) {
        if (stretch_) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(rect(), composer_.image());
        } else {
            p.drawImage(0, 0, composer_.image());
        }
    }
    if (sink_)
        sink_->OnDrawOverlay(id_, user_value_, p, rect());
}

void CPictureEx::Report(unsigned id, intptr_t lparam) {
    if (parentWidget())
        platform::post_message(parentWidget(), id, reinterpret_cast<intptr_t>(this), lparam);
}

void CPictureEx::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        Report(msg::kFaceChosen, id_);
    QWidget::mousePressEvent(e);
}

void CPictureEx::mouseReleaseEvent(QMouseEvent* e) {
    // A double click is press, release, double click, release: its first click was reported, its second
    // release is part of the double click and not a click of its own.
    const bool ends_double_click = std::exchange(in_double_click_, false);
    if (e->button() == Qt::LeftButton) {
        if (!ends_double_click && rect().contains(e->position().toPoint()))
            Report(msg::kPictureAction, 0);
    } else if (e->button() == Qt::RightButton)
        Report(msg::kPictureAction, 3);
    QWidget::mouseReleaseEvent(e);
}

void CPictureEx::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        in_double_click_ = true;
        Report(msg::kPictureAction, 1);
    }
    QWidget::mouseDoubleClickEvent(e);
}

void CPictureEx::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (playing_ && !timer_.isActive())
        timer_.start(composer_.StepMs() > 0 ? composer_.StepMs() : 100, this);
}

void CPictureEx::hideEvent(QHideEvent* e) {
    // A hidden picture costs nothing: the animation waits where it was.
    timer_.stop();
    QWidget::hideEvent(e);
}
