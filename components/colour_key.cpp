// Colour keys (see colour_key.h).
#include "components/colour_key.h"

#include <map>
#include <mutex>
#include <utility>

uint32_t colour_ref_of(QRgb p) {
    return uint32_t(qRed(p)) | uint32_t(qGreen(p)) << 8 | uint32_t(qBlue(p)) << 16;
}

namespace {

QImage make_keyed(const QImage& image, uint32_t key) {
    const QRgb k = qRgb(int(key & 0xFF), int((key >> 8) & 0xFF), int((key >> 16) & 0xFF)) & 0x00FFFFFF;
    const bool opaque = image.format() == QImage::Format_RGB32;
    // The skin's pictures are RGB32 (opaque) or ARGB32: one pass from the source; anything else is converted
    // first.
    const QImage source = opaque || image.format() == QImage::Format_ARGB32
                              ? image
                              : image.convertToFormat(QImage::Format_ARGB32);
    QImage out(source.size(), QImage::Format_ARGB32);
    if (out.isNull())
        return out;
    out.setDevicePixelRatio(source.devicePixelRatio());
    out.setDotsPerMeterX(source.dotsPerMeterX());
    out.setDotsPerMeterY(source.dotsPerMeterY());
    const int width = source.width(), height = source.height();
    const QRgb alpha = opaque ? 0xFF000000u : 0;
    for (int y = 0; y < height; ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x)
            to[x] = (from[x] & 0x00FFFFFF) == k ? 0 : from[x] | alpha;
    }
    return out;
}

} // namespace

QImage with_colour_key(const QImage& image, uint32_t key) {
    if (image.isNull())
        return image;
    // A picture's cache key names its pixels: it changes whenever they change, and is never given to another.
    const std::pair<qint64, uint32_t> id{image.cacheKey(), key & 0x00FFFFFF};
    constexpr size_t kMaxRemembered = 256;
    static std::mutex mutex;
    static std::map<std::pair<qint64, uint32_t>, QImage> remembered;
    {
        std::lock_guard lock(mutex);
        if (const auto it = remembered.find(id); it != remembered.end())
            return it->second;
    }
    QImage keyed = make_keyed(image, key);
    std::lock_guard lock(mutex);
    if (remembered.size() >= kMaxRemembered)
        remembered.clear();
    remembered.emplace(id, keyed);
    return keyed;
}
