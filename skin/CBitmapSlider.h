// A slider drawn from skin bitmaps: a channel, optionally an active channel shown from the minimum end to the
// thumb (a level meter), and a thumb with an optional second picture while dragged. Both are drawn with the
// top-left pixel's colour transparent. Position changes are posted to the parent: 10449 while dragging,
// 10450 on release and after each key.
#pragma once

#include <QImage>
#include <QWidget>

#include "skin/slider_geometry.h"

class CBitmapSlider : public QWidget {
public:
    explicit CBitmapSlider(QWidget* parent = nullptr);

    // Null paths release the bitmaps. False when a file cannot be loaded.
    bool LoadChannelBitmaps(const QString& normal, const QString& active);
    bool LoadThumbBitmaps(const QString& normal, const QString& active);

    void SetRange(int minimum, int maximum);
    void SetPageSize(int page) { page_size_ = page; }
    void SetMargin(int left, int top, int right, int bottom);
    void DrawFocusRect(bool draw) { draw_focus_rect_ = draw; }
    void SetPosition(int position);
    int GetPosition() const { return position_; }
    // What the slider sets ("麦克风音量"): its accessible name, and with the value its tool tip.
    void SetLabel(const QString& label);
    void Enable(bool enabled);
    bool dragging() const { return dragging_; }

    // The control id that the posted messages carry.
    int control_id() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent*) override { update(); }

private:
    SliderGeometry Geometry() const;
    int Along(const QPoint& p) const { return p.x(); }
    void MoveTo(int along);
    void Notify(unsigned message);
    void Describe();

    int minimum_ = 0, maximum_ = 100, position_ = 0, page_size_ = 20;
    QString label_;
    int width_ = 0, height_ = 0;
    int margin_left_ = 0, margin_top_ = 0, margin_right_ = 0, margin_bottom_ = 0;
    int drag_offset_ = 0;
    bool dragging_ = false;
    bool draw_focus_rect_ = false;
    // Reached with Tab: the focus ring shows even where the focus rectangle is off, so a keyboard user sees
    // where the keys go.
    bool keyboard_focus_ = false;
    bool enabled_ = true;
    QImage channel_, active_channel_, thumb_, active_thumb_; // colour-keyed
};
