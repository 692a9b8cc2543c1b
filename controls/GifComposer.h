// Plays a picture into an off-screen image frame by frame: a still picture (any format Qt reads, or a GIF
// with one frame) is drawn once; an animated GIF is split into standalone frames by the block scanner, each
// decoded once, and drawn with its position and disposal method: 2 restores the frame's rectangle to the
// background, 3 restores what was under it, and after the last frame the whole image is cleared. Used by the
// animated picture control (one composer, driven by its own timer) and by the faces of the rich text (one
// loop composed ahead of time).
#pragma once

#include <QColor>
#include <QImage>

#include <vector>

class GifComposer {
public:
    struct Frame {
        QImage picture; // the frame's own rectangle
        int left = 0, top = 0;
        int delay = -1;
        int disposal = 0;
    };

    // False for data that is neither a picture nor a GIF with at least one frame that decodes.
    bool Load(const QByteArray& data);
    // A still picture made in memory.
    bool LoadImage(const QImage& image);
    void Clear();

    bool loaded() const { return !image_.isNull(); }
    bool animated() const { return frames_.size() > 1; }
    QSize size() const { return size_; }
    const std::vector<Frame>& frames() const { return frames_; }
    int current() const { return current_; }
    // The background colour: from the GIF's colour table, or set by the owner (a transparent colour gives a
    // transparent background).
    QColor background() const { return background_; }
    void SetBackground(const QColor& c);

    // What is shown now.
    const QImage& image() const { return image_; }

    // Draws the still picture, or fills the image with the background and starts at the first frame.
    void Start();
    // Draw phase of the current frame (keeping what is under it for disposal 3).
    void DrawCurrent();
    // Dispose phase of the current frame, then the next frame; after the last, the image is cleared.
    void DisposeCurrentAndAdvance();
    // The timer step of the current frame.
    int StepMs() const;

    // One whole loop of an animation as it is shown: each frame's picture after its draw phase, and how long
    // it stays (two steps). A still picture is one entry.
    std::vector<std::pair<QImage, int>> ComposeLoop();

private:
    QSize size_;
    QColor background_ = Qt::white;
    QImage still_;
    std::vector<Frame> frames_;
    QImage image_;
    QImage backup_;
    int current_ = 0;
};
