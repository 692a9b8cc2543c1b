// The frame composer (see GifComposer.h).
#include "controls/GifComposer.h"

#include <QPainter>

#include "controls/gif_scan.h"

namespace {

QImage blank(QSize size, const QColor& fill) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

} // namespace

void GifComposer::Clear() {
    size_ = {};
    still_ = {};
    frames_.clear();
    image_ = {};
    backup_ = {};
    current_ = 0;
}

bool GifComposer::LoadImage(const QImage& image) {
    Clear();
    if (image.isNull())
        return false;
    still_ = image;
    size_ = image.size();
    image_ = blank(size_, background_);
    return true;
}

void GifComposer::SetBackground(const QColor& c) {
    background_ = c;
}

bool GifComposer::Load(const QByteArray& data) {
    Clear();
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    GifScanner scan(bytes, size_t(data.size()));
    if (!scan.is_gif()) {
        // Not a GIF: a still picture of any format Qt reads.
        if (!still_.loadFromData(data))
            return false;
        size_ = still_.size();
    } else {
        size_ = QSize(scan.screen().width, scan.screen().height);
        if (size_.isEmpty())
            return false;
        if (scan.screen().colour_table_size) {
            const uint32_t c = scan.screen().background;
            background_ = QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
        }
        const int count = scan.CountFrames();
        if (count == 0)
            return false;
        if (count == 1) {
            if (!still_.loadFromData(data, "GIF"))
                return false;
        } else {
            while (auto f = scan.ExtractFrame()) {
                QImage decoded;
                if (!decoded.loadFromData(f->image.data(), int(f->image.size()), "GIF"))
                    continue; // a frame that does not decode is left out
                Frame frame;
                frame.left = f->left;
                frame.top = f->top;
                frame.delay = f->delay;
                frame.disposal = f->disposal;
                // The decoder gives the frame on the logical screen; keep the frame's own rectangle.
                const QRect rect(f->left, f->top, f->width, f->height);
                frame.picture = decoded.size() == size_ && !rect.isEmpty() ? decoded.copy(rect) : decoded;
                frames_.push_back(std::move(frame));
            }
            if (frames_.empty())
                return false;
            if (frames_.size() == 1) {
                still_ = frames_[0].picture;
                frames_.clear();
            }
        }
    }
    image_ = blank(size_, background_);
    return true;
}

void GifComposer::Start() {
    if (!loaded())
        return;
    current_ = 0;
    image_ = blank(size_, background_);
    if (!animated()) {
        QPainter p(&image_);
        p.drawImage(QRect(QPoint(0, 0), size_), still_);
    }
}

void GifComposer::DrawCurrent() {
    if (!animated())
        return;
    const Frame& f = frames_[size_t(current_)];
    const QRect rect(f.left, f.top, f.picture.width(), f.picture.height());
    if (f.disposal == 3)
        backup_ = image_.copy(rect);
    QPainter p(&image_);
    p.drawImage(rect.topLeft(), f.picture);
}

void GifComposer::DisposeCurrentAndAdvance() {
    if (!animated())
        return;
    const Frame& f = frames_[size_t(current_)];
    const QRect rect(f.left, f.top, f.picture.width(), f.picture.height());
    if (f.disposal == 2) {
        QPainter p(&image_);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(rect, background_);
    } else if (f.disposal == 3 && !backup_.isNull()) {
        QPainter p(&image_);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(rect.topLeft(), backup_);
        backup_ = {};
    }
    if (++current_ >= int(frames_.size())) {
        current_ = 0;
        image_.fill(background_);
    }
}

int GifComposer::StepMs() const {
    return animated() ? GifStepMs(frames_[size_t(current_)].delay) : 0;
}

std::vector<std::pair<QImage, int>> GifComposer::ComposeLoop() {
    std::vector<std::pair<QImage, int>> loop;
    Start();
    if (!animated()) {
        if (loaded())
            loop.emplace_back(image_, 0);
        return loop;
    }
    for (size_t i = 0; i < frames_.size(); ++i) {
        DrawCurrent();
        loop.emplace_back(image_, 2 * StepMs());
        DisposeCurrentAndAdvance();
    }
    return loop;
}
