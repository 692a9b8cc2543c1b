// A skin bitmap: the picture, its size, and its key colour (the top-left pixel), drawn stretched or at its
// natural size, opaque or with the key colour transparent.
#pragma once

#include <QImage>
#include <QRect>

#include <cstddef>
#include <cstdint>
#include <string>

class QPainter;

// Reads a picture file. A file read before is not decoded again while its size and time are unchanged (the
// panels share many pictures). Any thread.
bool load_picture_file(const QString& path, QImage& out);

// Decodes the plain kind of BMP the skin is drawn in (a 40-byte header, 24 bits a pixel, uncompressed, rows
// bottom-up or top-down) into the picture Qt's reader would give (RGB32, the same pixels and resolution);
// false for any other kind, or a file whose sizes do not fit its length. A few microseconds for a button,
// where Qt's reader takes about ten times that. Any thread.
bool decode_plain_bmp(const unsigned char* data, size_t size, QImage& out);

// Loads a skin picture. On a screen of twice the density or more, the twice-as-large drawing of the same
// picture ("name@2x.bmp" beside "name.bmp") is taken when the skin has it, so the skin stays crisp; it has a
// device pixel ratio of 2, so its size in the window's coordinates is the same.
bool load_skin_picture(const QString& path, QImage& out);

// Reads the pictures of a skin folder into the picture cache, as load_skin_picture reads them for this
// screen, so that the windows made next find them there: at start-up the UI thread does it while it waits for
// the fonts' configuration, instead of in the middle of making the window. The BMP files directly in the
// folder, and those of its "en" folder when `english` (the interface's copies of pictures with words); their
// "@2x" copies only as load_skin_picture takes them. At most 256 files, the largest skin being about a
// hundred. Any thread once the QApplication exists.
void read_skin_pictures_ahead(const std::string& folder, bool english);

class CSkinBitmap {
public:
    // Loads a bitmap file; false (and an empty bitmap) when it cannot be read.
    bool Load(const std::string& path);
    // Whole bitmap stretched into the rectangle; nothing without a bitmap.
    void DrawStretched(QPainter& painter, const QRect& destination) const;
    // At its natural size; nothing when its width or height is 0.
    void DrawAt(QPainter& painter, int x, int y) const;

    bool empty() const { return image_.isNull(); }
    // The size in the window's coordinates (a picture drawn for a 2x screen has twice the pixels).
    int width() const { return image_.width() / int(image_.devicePixelRatio()); }
    int height() const { return image_.height() / int(image_.devicePixelRatio()); }
    uint32_t key_colour() const { return key_; }
    const QImage& image() const { return image_; }

    // Set by the owner; false after loading.
    bool transparent = false;

private:
    QImage image_;
    mutable QImage keyed_; // the picture with the key colour transparent, made on first transparent draw
    uint32_t key_ = 0;
};
