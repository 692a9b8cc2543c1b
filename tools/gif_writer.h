// Writes GIF files block by block with giflib: a logical screen with its global colour table, then any
// sequence of comment, plain-text, application (loop) and graphic control extensions and images. Used by the
// face generator and by tests that need GIFs of a known shape.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class GifWriter {
public:
    // `palette`: 0xRRGGBB colours, padded to a power of two (2 to 256).
    GifWriter(int width, int height, std::vector<uint32_t> palette, int background_index = 0);
    ~GifWriter();
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;

    void Comment(const std::string& text);
    // A plain text extension with a 12-byte header and the text as its data.
    void PlainText(const std::string& text);
    // The NETSCAPE2.0 application extension: loop forever.
    void Loop();
    // A graphic control extension; `transparent` is a colour index or -1.
    void Control(int delay_centiseconds, int disposal, int transparent = -1);
    // An image of colour indexes, row by row, at (left, top) of the logical screen.
    void Image(int left, int top, int width, int height, const std::vector<uint8_t>& indexes);

    // The whole file; empty when giflib failed.
    std::vector<uint8_t> Finish();
    bool ok() const { return ok_; }

private:
    static int Write(void* file, const unsigned char* data, int length);
    void* gif_ = nullptr; // GifFileType
    std::vector<uint8_t> out_;
    bool ok_ = true;
};
