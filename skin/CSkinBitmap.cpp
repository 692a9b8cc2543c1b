// Skin bitmaps (see CSkinBitmap.h).
#include "skin/CSkinBitmap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <unordered_map>

#include "components/colour_key.h"
#include "platform/paths.h"

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

// The whole of a regular file of at most `limit` bytes; false when it cannot be read or is larger.
bool read_small_file(const QByteArray& name, size_t limit, QByteArray& out) {
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= limit;
    if (read) {
        out.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        while (got < out.size()) {
            const ssize_t n = ::read(fd, out.data() + got, size_t(out.size() - got));
            if (n <= 0)
                break;
            got += n;
        }
        read = got == out.size();
    }
    ::close(fd);
    return read;
}

} // namespace

bool decode_plain_bmp(const unsigned char* data, size_t size, QImage& out) {
    // The file header (14 bytes) and the info header (40 bytes), little-endian.
    constexpr size_t kHeaders = 54;
    if (size < kHeaders || data[0] != 'B' || data[1] != 'M')
        return false;
    auto u16 = [data](size_t at) { return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8; };
    auto u32 = [&u16](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const uint32_t pixels_at = u32(10);
    const auto width = int32_t(u32(18)), height = int32_t(u32(22));
    if (u32(14) != 40 || u16(26) != 1 || u16(28) != 24 || u32(30) != 0)
        return false;
    // Larger than any skin picture; Qt's reader takes the rest.
    constexpr int32_t kMaxSide = 8192;
    if (width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide)
        return false;
    const size_t rows = size_t(std::abs(height));
    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    if (pixels_at < kHeaders || pixels_at > size || (size - pixels_at) / stride < rows)
        return false;
    QImage image(width, int(rows), QImage::Format_RGB32);
    if (image.isNull())
        return false;
    for (size_t y = 0; y < rows; ++y) {
        const unsigned char* from = data + pixels_at + (height > 0 ? rows - 1 - y : y) * stride;
        auto* to = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (int32_t x = 0; x < width; ++x, from += 3)
            to[x] = qRgb(from[2], from[1], from[0]);
    }
    if (const auto dpm = int32_t(u32(38)); dpm > 0)
        image.setDotsPerMeterX(dpm);
    if (const auto dpm = int32_t(u32(42)); dpm > 0)
        image.setDotsPerMeterY(dpm);
    out = image;
    return true;
}

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
    // The skin's own kind of BMP is decoded here; anything else by Qt's readers.
    constexpr size_t kMaxPlainBmp = 8 << 20;
    QByteArray bytes;
    const bool plain = path.endsWith(".bmp", Qt::CaseInsensitive) && size_t(st.st_size) <= kMaxPlainBmp &&
                       read_small_file(name, kMaxPlainBmp, bytes) &&
                       decode_plain_bmp(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                        size_t(bytes.size()), image);
    if (!plain) {
        QImageReader reader(path);
        read_by_name(reader, path);
        // A file whose contents are not what its name says is read by detection after all.
        if (!reader.read(&image) && !image.load(path))
            return false;
    }
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

void read_skin_pictures_ahead(const std::string& folder, bool english) {
    constexpr int kMaxFiles = 256;
    int read = 0;
    for (const std::string& sub : {std::string(), std::string("en")}) {
        if (!sub.empty() && !english)
            continue;
        const std::string dir = sub.empty() ? folder : path_join(folder, sub);
        std::error_code error;
        for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end && read < kMaxFiles;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            const QString shown = QString::fromStdString(name);
            if (!shown.endsWith(".bmp", Qt::CaseInsensitive) || shown.contains("@2x"))
                continue;
            QImage picture;
            load_skin_picture(QString::fromStdString(path_join(dir, name)), picture);
            ++read;
        }
    }
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
