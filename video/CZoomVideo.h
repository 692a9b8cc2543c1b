// The zoom window: a resizable window of its own that shows a picture enlarged in five sizes (320 x 240 up to
// the full screen), with a skinned top strip that carries the caption and the zoom-out, zoom-in and close
// buttons and drags the window. It shows its owner's latest picture below the strip.
// It is a window of the main window (kept above it by the window manager), so it takes the mouse and the
// keyboard while the main window runs modally, and the dialogs opened later stand above it.
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

    // `owner` receives message 3135 when the window asks to be closed; the window belongs to the owner's
    // window.
    CZoomVideo(const std::string& skin_folder, PictureSlot* picture, QWidget* owner);
    ~CZoomVideo() override;

    void SetCaption(const QString& text);
    int level() const { return level_; }
    int top_strip() const { return top_.height(); }
    void ZoomOut();
    void ZoomIn();
    // F11 (here or in the main window): the full screen, and again back to the size it came from; a window
    // shown at the full screen from the start (ShowFullScreen) asks to be closed instead.
    void ToggleFullScreen();
    void ShowFullScreen();
    // The picture size of a level (0 x 0 for the full screen).
    static QSize LevelSize(int level);
    // Where a window of a level's size stands in the work area `area`: centred, but with its top strip on the
    // screen when it is larger than the area.
    static QPoint PlaceIn(const QRect& area, const QSize& window);

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // Changes the level and the window's size, remembering the level the full screen came from.
    void GoTo(int level);
    void ApplyLevel(bool keep_corner);
    void AskOwnerToClose();

    QWidget* owner_;
    PictureSlot* picture_;
    CSkinBitmap background_, top_;
    CSkinButtons skin_;
    ClxStatic* caption_;
    int level_ = 0;
    // The level the full screen came from (-1: it was shown so from the start).
    int level_before_full_ = -1;
    // A press on the top strip moves the window once the pointer has gone the drag distance, so a click or a
    // double click never leaves the window manager in a move.
    bool move_armed_ = false;
    QPoint press_at_;
};
