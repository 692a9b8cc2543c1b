// The latest picture of a video source, handed from the thread that makes it (capture or link) to the UI
// thread that paints it. A picture that was not painted yet is replaced by the newer one: nothing queues when
// painting is slower than the camera.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <mutex>
#include <vector>

class CSkinBitmap;

// Paints a video picture into `widget`: the background while `show` is false or there is no frame yet, else
// the frame, unscaled when it has the widget's size.
void paint_picture(QWidget* widget, const QImage& frame, bool show, const CSkinBitmap& background);

class PictureSlot {
public:
    // Any thread: copies the picture (rows in reverse order when `bottom_up`) and asks the views to repaint.
    void Publish(const uint8_t* pixels, int width, int height, int stride, QImage::Format format,
                 bool bottom_up);
    // UI thread: the newest picture (null before the first).
    QImage Latest() const;
    void Clear();
    // The widgets that show this picture; UI thread.
    void AddView(QWidget* view);
    void RemoveView(QWidget* view);

    uint64_t published() const { return published_; }
    uint64_t repaints_asked() const { return repaints_asked_; }

private:
    mutable std::mutex mutex_;
    QImage front_, back_;
    std::vector<QPointer<QWidget>> views_;
    std::atomic<bool> repaint_pending_{false};
    std::atomic<uint64_t> published_{0};
    std::atomic<uint64_t> repaints_asked_{0};
};
