// The latest picture (see PictureSlot.h).
#include "video/PictureSlot.h"

#include <QMetaObject>
#include <QPainter>

#include <cstring>

#include "skin/CSkinBitmap.h"

void PictureSlot::Publish(const uint8_t* pixels, int width, int height, int stride, QImage::Format format,
                          bool bottom_up) {
    std::vector<QPointer<QWidget>> views;
    {
        std::lock_guard lock(mutex_);
        if (back_.width() != width || back_.height() != height || back_.format() != format)
            back_ = QImage(width, height, format);
        const int row = std::min<int>(stride, int(back_.bytesPerLine()));
        for (int y = 0; y < height; ++y)
            std::memcpy(back_.scanLine(bottom_up ? height - 1 - y : y), pixels + size_t(y) * size_t(stride),
                        size_t(row));
        std::swap(front_, back_);
        views = views_;
    }
    ++published_;
    // One repaint request at a time: pictures published meanwhile are simply newer when it is served.
    if (repaint_pending_.exchange(true) || views.empty() || !views.front())
        return;
    ++repaints_asked_;
    QMetaObject::invokeMethod(
        views.front().data(),
        [this, views] {
            repaint_pending_ = false;
            for (const auto& v : views)
                if (v)
                    v->update();
        },
        Qt::QueuedConnection);
}

QImage PictureSlot::Latest() const {
    std::lock_guard lock(mutex_);
    return front_;
}

void PictureSlot::Clear() {
    std::lock_guard lock(mutex_);
    front_ = QImage();
}

void PictureSlot::AddView(QWidget* view) {
    std::lock_guard lock(mutex_);
    views_.push_back(view);
}

void PictureSlot::RemoveView(QWidget* view) {
    std::lock_guard lock(mutex_);
    views_.erase(std::remove_if(views_.begin(), views_.end(), [&](const auto& v) { return !v || v == view; }),
                 views_.end());
}

void paint_picture(QWidget* widget, const QImage& frame, bool show, const CSkinBitmap& background) {
    QPainter p(widget);
    if (!show || frame.isNull()) {
        background.DrawStretched(p, widget->rect());
        return;
    }
    if (frame.size() == widget->size())
        p.drawImage(0, 0, frame);
    else
        p.drawImage(widget->rect(), frame);
}
