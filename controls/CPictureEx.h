// The animated picture control: shows a still picture or plays an animated GIF with its own timer (a draw
// step and a dispose step per frame), optionally stretched to the control, with a tool tip, click reports to
// its parent (message 1122 on a press, 1123 for a click, double click or right click) and an overlay painted
// by an IPictureEvent sink. The timer only runs while the control is visible.
#pragma once

#include <QBasicTimer>
#include <QWidget>

#include <cstdint>
#include <string>

#include "controls/GifComposer.h"

class QPainter;

// Paints over a picture after it was drawn.
class IPictureEvent {
public:
    virtual ~IPictureEvent() = default;
    virtual void OnDrawOverlay(int control_id, uint32_t user_value, QPainter& painter,
                               const QRect& client) = 0;
};

class CPictureEx : public QWidget {
public:
    // The longest tool tip, in GBK bytes.
    static constexpr size_t kMaxTipBytes = 63;

    CPictureEx(QWidget* parent, int control_id);
    ~CPictureEx() override;

    bool LoadFile(const QString& path);
    bool LoadData(const QByteArray& data);
    bool LoadImage(const QImage& image);
    // Draws a still picture once, or starts the animation.
    void Play();
    // Stops and forgets the picture; stretch, user value, sink and tool tip text stay.
    void Clear();
    // GBK text, cut to 63 bytes between characters.
    bool SetTipText(const std::string& gbk);
    std::string tip_text() const { return tip_; }

    // Set before loading: whether the picture is scaled to the control instead of the control resized.
    void set_stretch(bool on) { stretch_ = on; }
    void set_background(const QColor& c) { composer_.SetBackground(c); }
    void set_user_value(uint32_t v) { user_value_ = v; }
    void set_event_sink(IPictureEvent* sink) { sink_ = sink; }
    int control_id() const { return id_; }
    bool playing() const { return playing_; }
    bool timer_running() const { return timer_.isActive(); }
    const GifComposer& composer() const { return composer_; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void Step();
    void Report(unsigned id, intptr_t lparam);

    int id_;
    GifComposer composer_;
    QBasicTimer timer_;
    bool playing_ = false;
    bool half_step_ = false;
    bool stretch_ = false;
    bool in_double_click_ = false; // between a double click and its release
    uint32_t user_value_ = 0;
    IPictureEvent* sink_ = nullptr;
    std::string tip_;
};
