// The control bar of a video picture: snapshot, zoom and close buttons (and a speaker button without a
// function) over the picture's bottom strip while the mouse is over the picture. It reports its buttons to
// the picture through VideoEventCall. Here it is a child of the picture, not a window of its own.
#pragma once

#include <QWidget>

#include "skin/CSkinButtons.h"

class VideoEventCall {
public:
    virtual ~VideoEventCall() = default;
    // 1 zoom, 2 close, 3 snapshot.
    virtual int on_video_event(int type, int, int) = 0;
};

class CVideoCtl : public QWidget {
public:
    enum Control { kSpeaker = 1086, kSnap = 1087, kZoom = 1002, kClose = 1069 };
    static constexpr int kHeight = 26;

    CVideoCtl(const std::string& skin_folder, VideoEventCall* sink, QWidget* parent);
    // Places the bar over the parent's bottom strip.
    void Place();
    void Press(int control);

private:
    VideoEventCall* sink_;
    CSkinButtons skin_;
};

// The windows of one picture (the bar is shown while the mouse is over the picture).
void follow_hover(QWidget* picture, CVideoCtl* bar, QEvent* event);
// A picture's caption at its bottom left, and its control bar over its bottom strip when shown.
void place_caption_and_bar(QWidget* picture, QWidget* caption, CVideoCtl* bar);
