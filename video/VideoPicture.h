// What the local camera panel and the remote video windows have in common: the latest picture painted over
// a skin background, a caption at the bottom left, the control bar while the mouse is over the picture, and
// the zoom window that shows the same picture enlarged.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

#include "platform/messages.h"
#include "skin/CSkinBitmap.h"
#include "video/CVideoCtl.h"
#include "video/PictureSlot.h"

class ClxStatic;
class CZoomVideo;

class VideoPicture : public QWidget, public VideoEventCall, public platform::MessageTarget {
public:
    ~VideoPicture() override;

    PictureSlot& picture() { return picture_; }
    CZoomVideo* zoom() const { return zoom_.get(); }
    CVideoCtl* control_bar() const { return bar_; }
    // The text shown at the bottom left.
    QString caption() const;
    // Opens the zoom window (when there is something to show) or closes it.
    void ToggleZoom();
    // Full screen: opens the zoom window at its largest size; an open zoom window goes to the full screen and
    // back (CZoomVideo::ToggleFullScreen). False when there is nothing to show.
    bool ToggleFullScreen();
    // Whether the picture shows a frame now (rather than its background).
    bool showing() const { return ShowsFrame(); }
    // The picture the user clicked last (the selected one), or null; UI thread.
    static VideoPicture* selected();

    // Message 3135: the zoom window asks to be closed.
    void on_message(unsigned id, intptr_t wparam, intptr_t lparam) override;

protected:
    // `keyed_background`: the background's top-left colour is transparent.
    VideoPicture(const std::string& skin_folder, const char* background_file, bool keyed_background,
                 QWidget* parent);

    // The picture is painted (rather than the background) while this is true and no zoom window is open.
    virtual bool ShowsFrame() const = 0;
    // Whether the zoom window may open now.
    virtual bool CanZoom() const = 0;
    // Closes the zoom window; true when one was open.
    bool CloseZoom();
    void SetCaption(const QString& text);
    const std::string& skin_folder() const { return skin_folder_; }

    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

    PictureSlot picture_;

private:
    std::string skin_folder_;
    CSkinBitmap background_;
    ClxStatic* title_;
    CVideoCtl* bar_;
    std::unique_ptr<CZoomVideo> zoom_;
};
