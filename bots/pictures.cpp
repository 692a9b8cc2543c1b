// Lesson pictures (see pictures.h).
#include "bots/pictures.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <algorithm>

#include "video/capture.h"

namespace bots {

namespace {

// RGB to packed 4:2:2 (Y0 U Y1 V), BT.601 studio range; two pixels share their chroma.
void to_yuyv(const QImage& rgb, uint8_t* out) {
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); x += 2) {
            const QRgb a = line[x], b = line[x + 1];
            auto luma = [](QRgb c) {
                return (66 * qRed(c) + 129 * qGreen(c) + 25 * qBlue(c) + 128) / 256 + 16;
            };
            const int r = (qRed(a) + qRed(b)) / 2, g = (qGreen(a) + qGreen(b)) / 2,
                      bl = (qBlue(a) + qBlue(b)) / 2;
            const int u = (-38 * r - 74 * g + 112 * bl + 128) / 256 + 128;
            const int v = (112 * r - 94 * g - 18 * bl + 128) / 256 + 128;
            uint8_t* p = out + (size_t(y) * rgb.width() + x) * 2;
            p[0] = uint8_t(std::clamp(luma(a), 0, 255));
            p[1] = uint8_t(std::clamp(u, 0, 255));
            p[2] = uint8_t(std::clamp(luma(b), 0, 255));
            p[3] = uint8_t(std::clamp(v, 0, 255));
        }
    }
}

} // namespace

void draw_slide(uint8_t* yuyv, const std::string& course_utf8, uint32_t frame) {
    QImage image(capture::kWidth, capture::kHeight, QImage::Format_RGB32);
    image.fill(QColor(34, 74, 52));
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(QColor(200, 170, 90));
    p.drawRect(6, 6, image.width() - 13, image.height() - 13);
    p.setPen(Qt::white);
    QFont title;
    title.setPixelSize(22);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(12, 24, image.width() - 24, 60), Qt::AlignCenter | Qt::TextWordWrap,
               QString::fromUtf8(course_utf8.c_str()));
    QFont body;
    body.setPixelSize(18);
    p.setFont(body);
    p.drawText(QRect(12, 100, image.width() - 24, 30), Qt::AlignCenter, QString::fromUtf8("1/5 + 2/5 = 3/5"));
    p.setPen(QColor(230, 230, 160));
    p.drawText(QRect(12, 150, image.width() - 24, 30), Qt::AlignCenter,
               QDateTime::currentDateTime().toString("HH:mm:ss"));
    QFont small;
    small.setPixelSize(12);
    p.setFont(small);
    p.setPen(QColor(180, 200, 180));
    p.drawText(QRect(12, 200, image.width() - 24, 20), Qt::AlignRight,
               QString::fromUtf8("第 %1 帧").arg(frame));
    p.end();
    to_yuyv(image, yuyv);
}

std::vector<uint8_t> user_picture_png(const std::string& nickname_utf8, uint32_t user, int size) {
    size = std::clamp(size, 16, 512);
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(user * 47 % 360), 150, 200));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QString name = QString::fromUtf8(nickname_utf8.c_str());
    QFont font;
    font.setPixelSize(size * 11 / 20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(image.rect(), Qt::AlignCenter, name.isEmpty() ? QString::number(user % 100) : name.left(1));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

} // namespace bots
