// The skin toolkit: layout files, colour keys, skin bitmaps and skin buttons on real controls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include <QFile>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "components/colour_key.h"
#include "platform/controls.h"
#include "platform/text.h"
#include "skin/CSkinBitmap.h"
#include "skin/CSkinButtons.h"
#include "skin/ClxStatic.h"
#include "skin/skin_layout.h"
#include "temp_dir.h"

namespace {

void write_bmp(const std::string& path, int w, int h, QColor fill, QColor corner) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(fill);
    image.setPixel(0, 0, corner.rgb());
    ASSERT_TRUE(image.save(QString::fromStdString(path), "BMP"));
}

} // namespace

TEST(SkinLayout, SkippedSectionKeepsEntryIndexes) {
    TempDir dir;
    write_file(dir.file("top.txt"),
               "[UI]\nbuttons=3\n"
               "[3000]\nID=1067\nLEFT=5\nTOP=6\nWIDTH=28\nHEIGHT=22\ngroupid=4\n"
               "Normal_fn=a.bmp\nNormal_fn1=b.bmp\nCAPTION=x\n"
               "[3001]\nLEFT=9\n"
               "[3002]\nid=1069\nUseClrKey=1\nnormal_clrkey=ff00ff\nhover_clrkey=ABCDEFG\n");
    SkinLayout l = read_skin_layout(dir.file("top.txt"));
    ASSERT_EQ(l.count, 3);
    EXPECT_EQ(l.entries[0].id, 1067);
    EXPECT_EQ(l.entries[0].left, 5);
    EXPECT_EQ(l.entries[0].groupid, 4);
    EXPECT_EQ(l.entries[0].pictures[0], "a.bmp");
    EXPECT_EQ(l.entries[0].pictures[3], "b.bmp");
    EXPECT_FALSE(l.entries[0].use_colour_key);
    EXPECT_EQ(l.entries[1].id, 0);
    EXPECT_EQ(l.entries[1].left, 0) << "a skipped section stays all zero";
    EXPECT_EQ(l.entries[2].id, 1069);
    EXPECT_EQ(l.entries[2].normal_key, 0x00FF00FFu);
    EXPECT_EQ(l.entries[2].hover_key, 0u) << "a key of 7 characters gives black";
    EXPECT_EQ(l.entries[2].down_key, kNoColour) << "only an empty key gives none";
}

TEST(SkinLayout, MissingOrEmptyFileHasNoButtons) {
    TempDir dir;
    EXPECT_EQ(read_skin_layout(dir.file("none.txt")).count, 0);
    write_file(dir.file("neg.txt"), "[ui]\nbuttons=-2\n");
    EXPECT_TRUE(read_skin_layout(dir.file("neg.txt")).entries.empty());
    write_file(dir.file("huge.txt"), "[ui]\nbuttons=2000000000\n");
    EXPECT_LE(read_skin_layout(dir.file("huge.txt")).count, 256)
        << "an absurd count is capped, not allocated";
}

TEST(ColourKey, KeyPixelsBecomeTransparentAndOthersStay) {
    QImage image(3, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(255, 0, 255));
    image.setPixel(1, 0, qRgb(254, 0, 255));
    image.setPixel(2, 0, qRgb(255, 0, 255));
    QImage keyed = with_colour_key(image, 0x00FF00FF);
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(keyed.pixel(1, 0)), 255);
    EXPECT_EQ(qAlpha(keyed.pixel(2, 0)), 0);
    EXPECT_EQ(colour_ref_of(qRgb(1, 2, 3)), 0x00030201u);
}

TEST(ColourKey, RememberedPerPictureAndKeyButNeverStale) {
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(qRgb(255, 0, 255));
    image.setPixel(1, 1, qRgb(10, 20, 30));
    image.setDevicePixelRatio(2.0);
    const QImage first = with_colour_key(image, 0x00FF00FF);
    EXPECT_EQ(with_colour_key(image, 0x00FF00FF).cacheKey(), first.cacheKey()) << "keyed once, then shared";
    EXPECT_EQ(first.devicePixelRatio(), 2.0);
    EXPECT_EQ(first.pixel(1, 1), qRgba(10, 20, 30, 255));

    // Another key on the same picture is another result.
    const QImage other = with_colour_key(image, 0x001E140A);
    EXPECT_EQ(qAlpha(other.pixel(0, 0)), 255);
    EXPECT_EQ(qAlpha(other.pixel(1, 1)), 0);

    // The picture changed after it was keyed: its new pixels are keyed, the earlier result stays as it was.
    image.setPixel(0, 0, qRgb(1, 2, 3));
    const QImage changed = with_colour_key(image, 0x00FF00FF);
    EXPECT_EQ(changed.pixel(0, 0), qRgba(1, 2, 3, 255));
    EXPECT_EQ(qAlpha(first.pixel(0, 0)), 0);

    // A picture with its own transparency keeps it outside the key colour.
    QImage translucent(2, 1, QImage::Format_ARGB32);
    translucent.setPixel(0, 0, qRgba(255, 0, 255, 255));
    translucent.setPixel(1, 0, qRgba(40, 50, 60, 128));
    const QImage keyed = with_colour_key(translucent, 0x00FF00FF);
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0);
    EXPECT_EQ(keyed.pixel(1, 0), qRgba(40, 50, 60, 128));
}

TEST(SkinBitmap, AFileIsDecodedOnceAndAgainWhenItChanges) {
    TempDir dir;
    const std::string path = dir.file("shared.bmp");
    write_bmp(path, 4, 4, QColor(10, 200, 30), QColor(255, 0, 255));
    CSkinBitmap first, second;
    ASSERT_TRUE(first.Load(path));
    ASSERT_TRUE(second.Load(path));
    EXPECT_EQ(first.image().cacheKey(), second.image().cacheKey()) << "one decoded picture, shared";

    // The same size with other pixels and a later time: read again.
    write_bmp(path, 4, 4, QColor(200, 10, 30), QColor(255, 0, 255));
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
    CSkinBitmap changed;
    ASSERT_TRUE(changed.Load(path));
    EXPECT_EQ(QColor(changed.image().pixel(2, 2)), QColor(200, 10, 30));
    EXPECT_EQ(QColor(first.image().pixel(2, 2)), QColor(10, 200, 30)) << "a loaded picture stays as it was";
    // Another size: read again as well.
    write_bmp(path, 6, 3, QColor(1, 2, 3), QColor(4, 5, 6));
    ASSERT_TRUE(changed.Load(path));
    EXPECT_EQ(changed.width(), 6);

    // A picture of another format under a ".bmp" name still loads; a missing or empty file does not.
    QImage png(3, 3, QImage::Format_RGB32);
    png.fill(QColor(7, 8, 9));
    ASSERT_TRUE(png.save(QString::fromStdString(dir.file("really_png.bmp")), "PNG"));
    CSkinBitmap other;
    ASSERT_TRUE(other.Load(dir.file("really_png.bmp")));
    EXPECT_EQ(QColor(other.image().pixel(1, 1)), QColor(7, 8, 9));
    EXPECT_FALSE(other.Load(dir.file("missing.bmp")));
    EXPECT_TRUE(other.empty());
    write_file(dir.file("empty.bmp"), "");
    EXPECT_FALSE(other.Load(dir.file("empty.bmp")));
}

// The skin's BMPs are decoded by our own reader: every picture must come out as Qt's reader gives it, and a
// file that is not of that plain kind, or cut short, is left to Qt (or refused).
TEST(SkinBitmap, PlainBmpsDecodeAsQtsReaderDoesAndOthersAreLeftToIt) {
    TempDir dir;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245 + 12345; };
    for (int w = 1; w <= 6; ++w)
        for (int h = 1; h <= 3; ++h) {
            QImage drawn(w, h, QImage::Format_RGB32);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    drawn.setPixel(
                        x, y, qRgb(int(next() >> 8) & 255, int(next() >> 8) & 255, int(next() >> 8) & 255));
            drawn.setDotsPerMeterX(2835 + w);
            drawn.setDotsPerMeterY(3000 + h);
            const QString path = QString::fromStdString(dir.file("p.bmp"));
            ASSERT_TRUE(drawn.save(path, "BMP"));
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            QByteArray bytes = file.readAll();
            const QImage by_qt(path, "BMP");
            ASSERT_FALSE(by_qt.isNull());
            QImage ours;
            ASSERT_TRUE(decode_plain_bmp(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                         size_t(bytes.size()), ours))
                << w << "x" << h;
            EXPECT_EQ(ours, by_qt) << w << "x" << h;
            EXPECT_EQ(ours.format(), by_qt.format());
            EXPECT_EQ(ours.dotsPerMeterX(), by_qt.dotsPerMeterX());
            EXPECT_EQ(ours.dotsPerMeterY(), by_qt.dotsPerMeterY());
            EXPECT_EQ(ours, drawn);

            // Rows stored top-down (a negative height) give the same picture.
            const int stride = (w * 3 + 3) & ~3;
            QByteArray top_down = bytes;
            const qint32 negative = -h;
            std::memcpy(top_down.data() + 22, &negative, 4);
            for (int y = 0; y < h; ++y)
                std::memcpy(top_down.data() + 54 + y * stride, bytes.constData() + 54 + (h - 1 - y) * stride,
                            size_t(stride));
            QImage flipped;
            ASSERT_TRUE(decode_plain_bmp(reinterpret_cast<const unsigned char*>(top_down.constData()),
                                         size_t(top_down.size()), flipped));
            EXPECT_EQ(flipped, drawn);

            // One byte short of the last row, or a header that says more than the file holds: refused.
            EXPECT_FALSE(decode_plain_bmp(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                          size_t(bytes.size() - 1), ours));
            QByteArray huge = bytes;
            const qint32 tall = 8000;
            std::memcpy(huge.data() + 22, &tall, 4);
            EXPECT_FALSE(decode_plain_bmp(reinterpret_cast<const unsigned char*>(huge.constData()),
                                          size_t(huge.size()), ours));
        }
    // Other kinds (8 bits a pixel, 32 bits a pixel, not a BMP at all) are not ours to decode, but still load.
    QImage indexed = QImage(5, 4, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8);
    indexed.fill(3);
    for (const auto& [name, picture] :
         {std::pair{"indexed.bmp", indexed}, std::pair{"argb.bmp", QImage(3, 3, QImage::Format_ARGB32)}}) {
        const QString path = QString::fromStdString(dir.file(name));
        ASSERT_TRUE(picture.save(path, "BMP"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QImage ours;
        const bool plain = decode_plain_bmp(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                            size_t(bytes.size()), ours);
        if (plain) {
            EXPECT_EQ(ours, QImage(path, "BMP")) << name;
        }
        CSkinBitmap loaded;
        EXPECT_TRUE(loaded.Load(path.toStdString())) << name;
        EXPECT_EQ(loaded.image(), QImage(path, "BMP")) << name;
    }
    const QByteArray text = "BM not a picture at all, not even its headers";
    QImage none;
    EXPECT_FALSE(decode_plain_bmp(reinterpret_cast<const unsigned char*>(text.constData()),
                                  size_t(text.size()), none));
}

TEST(SkinBitmap, KeyColourIsTheTopLeftPixelAndTransparentDrawingShowsTheBackground) {
    TempDir dir;
    write_bmp(dir.file("icon.bmp"), 4, 4, QColor(10, 200, 30), QColor(255, 0, 255));
    CSkinBitmap b;
    ASSERT_TRUE(b.Load(dir.file("icon.bmp")));
    EXPECT_EQ(b.width(), 4);
    EXPECT_EQ(b.key_colour(), 0x00FF00FFu);
    EXPECT_FALSE(b.transparent);

    QImage target(8, 8, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter p(&target);
        b.DrawStretched(p, QRect(0, 0, 8, 8));
    }
    EXPECT_EQ(QColor(target.pixel(0, 0)), QColor(255, 0, 255)) << "opaque: the key colour is drawn";
    target.fill(Qt::white);
    b.transparent = true;
    {
        QPainter p(&target);
        b.DrawStretched(p, QRect(0, 0, 8, 8));
    }
    EXPECT_EQ(QColor(target.pixel(0, 0)), QColor(Qt::white)) << "keyed: the background shows through";
    EXPECT_EQ(QColor(target.pixel(1, 1)), QColor(Qt::white)) << "the key pixel is stretched too";
    EXPECT_EQ(QColor(target.pixel(3, 3)), QColor(10, 200, 30));
    target.fill(Qt::white);
    {
        QPainter p(&target);
        b.DrawAt(p, 4, 4);
    }
    EXPECT_EQ(QColor(target.pixel(3, 3)), QColor(Qt::white)) << "natural size at (4, 4)";
    EXPECT_EQ(QColor(target.pixel(4, 4)), QColor(Qt::white));
    EXPECT_EQ(QColor(target.pixel(5, 5)), QColor(10, 200, 30));
    EXPECT_EQ(QColor(target.pixel(7, 7)), QColor(10, 200, 30));

    CSkinBitmap missing;
    EXPECT_FALSE(missing.Load(dir.file("nope.bmp")));
    QPainter p(&target);
    missing.DrawAt(p, 0, 0); // draws nothing, no crash
    EXPECT_EQ(missing.width(), 0);
}

class SkinButtonsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.resize(300, 100);
        for (int id : {1067, 1068, 1069}) {
            auto* b = new QPushButton("text", &dialog);
            set_control_id(b, id);
            buttons[id] = b;
        }
        write_bmp(dir.file("n.bmp"), 20, 10, QColor(0, 0, 200), QColor(255, 0, 255));
        write_bmp(dir.file("h.bmp"), 20, 10, QColor(0, 200, 0), QColor(255, 0, 255));
        // A file name with Chinese characters: Unicode on disk, GBK in the layout file.
        write_bmp(dir.file("按下.bmp"), 20, 10, QColor(200, 0, 0), QColor(255, 0, 255));
        write_bmp(dir.file("n2.bmp"), 20, 10, QColor(90, 90, 90), QColor(255, 0, 255));
        write_file(
            dir.file("top.txt"),
            "[ui]\nbuttons=3\n"
            "[3000]\nID=1068\nLEFT=10\nTOP=4\nWIDTH=20\nHEIGHT=10\nNormal_fn=n.bmp\nOver_fn=h.bmp\n"
            "Down_fn=" +
                utf8_to_gbk("按下.bmp") +
                "\nNormal_fn1=n2.bmp\nUseClrKey=1\nnormal_clrkey=ff00ff\nCAPTION=" + utf8_to_gbk("最大化") +
                "\n"
                "[3001]\nLEFT=3\n"
                "[3002]\nID=4242\nNormal_fn=missing.bmp\n");
        skin.dialog = &dialog;
        skin.skin_folder = dir.path().string();
    }
    TempDir dir;
    QWidget dialog;
    std::map<int, QPushButton*> buttons;
    CSkinButtons skin;
};

TEST_F(SkinButtonsTest, LoadMakesButtonsAtTheirPlacesWithoutText) {
    EXPECT_EQ(skin.Load(dir.file("top.txt")), 2) << "entries 0 and 2 become buttons";
    EXPECT_EQ(skin.count(), 3);
    EXPECT_FALSE(skin.entry(1).button);
    QPushButton* max = buttons[1068];
    EXPECT_EQ(max->geometry(), QRect(10, 4, 20, 10));
    EXPECT_TRUE(max->text().isEmpty());
    EXPECT_EQ(max->toolTip(), QString::fromUtf8("最大化"));
    EXPECT_EQ(skin.entry(0).button->GetItemHandle(), max);
    EXPECT_EQ(skin.entry(2).button->GetItemHandle(), nullptr) << "an id that names no control";
    EXPECT_TRUE(skin.entry(2).pictures[0].isNull());
    // The normal picture with its key colour transparent.
    QImage shown = skin.entry(0).button->CurrentPicture();
    EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0);
    EXPECT_EQ(QColor(shown.pixel(5, 5)), QColor(0, 0, 200));
}

TEST_F(SkinButtonsTest, ClicksStillReachTheDialogAndPressedShowsItsPicture) {
    skin.Load(dir.file("top.txt"));
    dialog.show();
    QPushButton* max = buttons[1068];
    QSignalSpy clicked(max, &QPushButton::clicked);
    QTest::mousePress(max, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(QColor(skin.entry(0).button->CurrentPicture().pixel(5, 5)), QColor(200, 0, 0));
    QTest::mouseRelease(max, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(control_id(max), 1068);
}

TEST_F(SkinButtonsTest, PictureSetsSwitchAndOutOfRangeIsRefused) {
    skin.Load(dir.file("top.txt"));
    EXPECT_FALSE(skin.SetPictureSet(3, false, "x")) << "index equal to the count";
    EXPECT_FALSE(skin.SetPictureSet(1, false, "x")) << "a skipped entry";
    ASSERT_TRUE(skin.SetPictureSet(0, false, QString::fromUtf8("还原")));
    EXPECT_EQ(buttons[1068]->toolTip(), QString::fromUtf8("还原"));
    // Set 2 has only a normal picture; it is drawn with the same key colour, so no key pixel shows.
    QImage shown = skin.entry(0).button->CurrentPicture();
    EXPECT_EQ(QColor(shown.pixel(5, 5)), QColor(90, 90, 90));
    EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0);
    ASSERT_TRUE(skin.SetPictureSet(0, true, QString::fromUtf8("最大化")));
    shown = skin.entry(0).button->CurrentPicture();
    EXPECT_EQ(QColor(shown.pixel(5, 5)), QColor(0, 0, 200));
    EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0) << "and back";
}

TEST_F(SkinButtonsTest, DestructionGivesTheControlsBack) {
    QPushButton* max = buttons[1068];
    max->setToolTip("own");
    {
        CSkinButtons scoped;
        scoped.dialog = &dialog;
        scoped.skin_folder = dir.path().string();
        scoped.Load(dir.file("top.txt"));
        EXPECT_EQ(max->toolTip(), QString::fromUtf8("最大化"));
    }
    EXPECT_EQ(max->toolTip(), "own");
    QSignalSpy clicked(max, &QPushButton::clicked);
    QTest::mouseClick(max, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(OwnerDrawn, TransparentLabelShowsTheParentAndSolidOneItsOwnColour) {
    QWidget parent;
    parent.resize(200, 60);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(200, 30, 30));
    parent.setPalette(pal);
    parent.setAutoFillBackground(true);
    auto* transparent = new ClxStatic(&parent);
    transparent->setText("A");
    transparent->setGeometry(0, 0, 100, 30);
    transparent->colours.transparent = true;
    transparent->colours.text = 0x00FFFFFF;
    transparent->Refresh();
    auto* solid = new ClxCheckBox(&parent);
    solid->setText("B");
    solid->setGeometry(100, 0, 100, 30);
    solid->colours.background = 0x00D6D6D6; // toolcolor
    solid->colours.text = 0x00010101;
    solid->Refresh();
    parent.show();
    const QImage shot = parent.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(95, 28)), QColor(200, 30, 30)) << "no grey box behind transparent text";
    EXPECT_EQ(QColor(shot.pixel(195, 28)), QColor(214, 214, 214));
    EXPECT_EQ(solid->palette().color(QPalette::WindowText), QColor(1, 1, 1));
}
