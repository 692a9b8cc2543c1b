// Skin bitmaps (see CSkinBitmap.h).
#include "skin/CSkinBitmap.h"

#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <mutex>
#include <string>
#include <unordered_map>

#include "components/colour_key.h"

namespace {

// The format is told by the name where it can be, and read by Qt's own reader of that format without asking
// the image plug-ins: with detection on, the first picture read loads every plug-in (about 2 ms at start-up).
void read_by_name(QImageReader& reader, const QString& path) {
    if (path.endsWith(".bmp", Qt::CaseInsensitive))
        reader.setFormat("bmp");
    else if (path.endsWith(".png", Qt::CaseInsensitive))
        reader.setFormat("png");
    else
        return;
    reader.setAutoDetectImageFormat(false);
}

} // namespace

bool load_picture_file(const QString& path, QImage& out) {
    struct Entry {
        off_t size;
        timespec modified;
        QImage image;
    };
    // At most this many files are kept; a skin has about a hundred.
    constexpr size_t kMaxEntries = 512;
    static std::mutex mutex;
    static std::unordered_map<std::string, Entry> cache;

    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const std::string key(name.constData(), size_t(name.size()));
    {
        std::lock_guard lock(mutex);
        const auto it = cache.find(key);
        if (it != cache.end() && it->second.size == st.st_size &&
            it->second.modified.tv_sec == st.st_mtim.tv_sec &&
            it->second.modified.tv_nsec == st.st_mtim.tv_nsec) {
            out = it->second.image;
            return true;
        }
    }
    QImage image;
    QImageReader reader(path);
    read_by_name(reader, path);
    // A file whose contents are not what its name says is read by detection after all.
    if (!reader.read(&image) && !image.load(path))
        return false;
    std::lock_guard lock(mutex);
    if (cache.size() >= kMaxEntries)
        cache.clear();
    cache[key] = Entry{st.st_size, st.st_mtim, image};
    out = image;
    return true;
}

bool load_skin_picture(const QString& path, QImage& out) {
    if (qApp && qApp->devicePixelRatio() >= 1.5) {
        const int dot = int(path.lastIndexOf('.'));
        const QString large =
            dot > path.lastIndexOf('/') ? path.left(dot) + "@2x" + path.mid(dot) : path + "@2x";
        // Only an exact double of the picture fits: anything else is another picture.
        QImageReader small(path);
        read_by_name(small, path);
        if (load_picture_file(large, out) && out.size() == 2 * small.size()) {
            out.setDevicePixelRatio(2.0);
            return true;
        }
    }
    return load_picture_file(path, out);
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
