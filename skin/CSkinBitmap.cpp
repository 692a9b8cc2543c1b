// Skin bitmaps (see CSkinBitmap.h).
#include "skin/CSkinBitmap.h"

#include <QApplication>
#include <QImageReader>
#include <QPainter>

#include "components/colour_key.h"

bool load_skin_picture(const QString& path, QImage& out) {
    if (qApp && qApp->devicePixelRatio() >= 1.5) {
        const int dot = int(path.lastIndexOf('.'));
        const QString large =
            dot > path.lastIndexOf('/') ? path.left(dot) + "@2x" + path.mid(dot) : path + "@2x";
        // Only an exact double of the picture fits: anything else is another picture.
        if (out.load(large) && out.size() == 2 * QImageReader(path).size()) {
            out.setDevicePixelRatio(2.0);
            return true;
        }
    }
    return out.load(path);
}

bool CSkinBitmap::Load(const std::string& path) {
    QImage image;
    transparent = false;
    keyed_ = QImage();
    if (!load_skin_picture(QString::fromStdString(path), image)) {
        image_ = QImage();
        key_ = 0;
        return false;
    }
    image_ = image;
    key_ = colour_ref_of(image_.pixel(0, 0));
    return true;
}

void CSkinBitmap::DrawStretched(QPainter& painter, const QRect& destination) const {
    if (image_.isNull())
        return;
    // Stretching keeps colours as they are (no smoothing), so key colours stay exact.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (transparent) {
        if (keyed_.isNull())
            keyed_ = with_colour_key(image_, key_);
        painter.drawImage(destination, keyed_);
    } else {
        painter.drawImage(destination, image_);
    }
}

void CSkinBitmap::DrawAt(QPainter& painter, int x, int y) const {
    if (width() == 0 || height() == 0)
        return;
    DrawStretched(painter, QRect(x, y, width(), height()));
}
