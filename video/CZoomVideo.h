// The zoom window: a top-most, resizable window that shows a picture enlarged in five sizes (320 x 240 up to
// the full screen), with a skinned top strip that carries the caption and the zoom-out, zoom-in and close
// buttons and drags the window. It shows its owner's latest picture below the strip.
#pragma once

#include <QWidget>

#include "platform/messages.h"
#include "skin/CSkinBitmap.h"
#include "skin/CSkinButtons.h"

class ClxStatic;
class PictureSlot;

class CZoomVideo : public QWidget {
public:
    enum Control { kZoomOut = 1067, kZoomIn = 1068, kClose = 1069 };
    static constexpr int kMinWidth = 256, kMinHeight = 192;

    // `owner` receives message 3135 when the window asks to be closed.
    CZoomVideo(const std::string& skin_folder, PictureSlot* picture, QWidget* owner);
    ~CZoomVideo() override;

    void SetCaption(const QString& text);
    int level() const { return level_; }
    int top_strip() const { return top_.height(); }
    void ZoomOut();
    void ZoomIn();
    // The picture size of a level (0 x 0 for the full screen).
    static QSize LevelSize(int level);

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void ApplyLevel(bool keep_corner);
    void AskOwnerToClose();

    QWidget* owner_;
    PictureSlot* picture_;
    CSkinBitmap background_, top_;
    CSkinButtons skin_;
    ClxStatic* caption_;
    int level_ = 0;
};
