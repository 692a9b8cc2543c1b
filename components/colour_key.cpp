// Colour keys (see colour_key.h).
#include "components/colour_key.h"

uint32_t colour_ref_of(QRgb p) {
    return uint32_t(qRed(p)) | uint32_t(qGreen(p)) << 8 | uint32_t(qBlue(p)) << 16;
}

QImage with_colour_key(const QImage& image, uint32_t key) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb k = qRgb(int(key & 0xFF), int((key >> 8) & 0xFF), int((key >> 16) & 0xFF));
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((line[x] & 0x00FFFFFF) == (k & 0x00FFFFFF))
                line[x] = 0;
    }
    return out;
}
