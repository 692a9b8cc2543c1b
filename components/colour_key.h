// Colour-keyed pictures: the pixels of one key colour become transparent.
#pragma once

#include <QColor>
#include <QImage>

#include <cstdint>

// 0x00BBGGRR to a Qt colour.
inline QColor colour_from_ref(uint32_t ref) {
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

// The colour value of a pixel as 0x00BBGGRR.
uint32_t colour_ref_of(QRgb pixel);

// A copy of `image` (ARGB32) in which every pixel of colour `key` (0x00BBGGRR) is transparent. The result is
// remembered for that picture and key, so the windows that share a skin picture (and every repaint of a
// button) key it once. Any thread.
QImage with_colour_key(const QImage& image, uint32_t key);
