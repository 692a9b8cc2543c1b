// GIF block scanning for the animated picture control: the logical screen, then frame by frame, each frame
// copied out as a small standalone GIF (header, screen descriptor and global colour table of the whole file,
// the frame's own blocks, a trailer) that any GIF decoder can load. Plain C++; the input is untrusted: every
// read is checked against the data's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The logical screen of a GIF.
struct GifScreen {
    int width = 0;
    int height = 0;
    // Bytes of the global colour table (0 when there is none).
    size_t colour_table_size = 0;
    // The background colour from the global colour table as 0x00BBGGRR; white without a table.
    uint32_t background = 0xFFFFFF;
};

// One frame, ready to be loaded on its own.
struct GifFrame {
    std::vector<uint8_t> image; // the standalone GIF
    int left = 0, top = 0, width = 0, height = 0;
    int delay = -1;   // 1/100 s from the graphic control extension; -1 without one
    int disposal = 0; // 0 none, 1 keep, 2 restore to background, 3 restore to previous
};

class GifScanner {
public:
    // Frames are looked for only after a valid header: "GIF", a screen descriptor, the colour table.
    GifScanner(const uint8_t* data, size_t size);

    bool is_gif() const { return is_gif_; }
    const GifScreen& screen() const { return screen_; }

    // Passes over one frame; false at the trailer or on a block that is unknown or runs past the end.
    bool SkipGraphicBlock();
    // The next frame, or nothing at the trailer or on a bad block.
    std::optional<GifFrame> ExtractFrame();
    // Back to the first block after the colour table.
    void Rewind();

    // Frames counted from the start (the scan position is rewound afterwards).
    int CountFrames();

private:
    enum class Kind { Application, Comment, Control, PlainText, Image, Trailer, Unknown };
    Kind KindAt(size_t offset) const;
    // The whole length of the block at `offset`, or 0 when it is unknown or runs past the end.
    size_t BlockLength(size_t offset) const;
    // The length of a chain of data sub-blocks starting at `offset`, or 0 when it runs past the end.
    size_t SubBlocksLength(size_t offset) const;
    // Advances over the block at the scan offset; false when it cannot.
    bool Step();
    // Passes over application and comment extensions; false on a bad block.
    bool SkipExtensions();

    const uint8_t* data_;
    size_t size_;
    bool is_gif_ = false;
    GifScreen screen_;
    size_t first_block_ = 0;
    size_t offset_ = 0;
};

// The time one timer step of a frame lasts: half the frame's delay, and 50 ms for delays below 5/100 s or
// without a delay, so that every frame stays at least 100 ms.
int GifStepMs(int delay);
