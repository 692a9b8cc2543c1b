// GIF scanning, frame composing and the animated picture control, on GIFs written by giflib with the blocks
// each case needs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QImageReader>
#include <QTest>

#include "controls/CPictureEx.h"
#include "controls/GifComposer.h"
#include "controls/gif_scan.h"
#include "platform/message_ids.h"
#include "platform/messages.h"
#include "tools/gif_writer.h"

namespace {

// Four colours: white (background), red, green, blue; index 3 is also used as transparent where asked.
const std::vector<uint32_t> kPalette = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF};

std::vector<uint8_t> filled(int w, int h, uint8_t index) {
    return std::vector<uint8_t>(size_t(w * h), index);
}

QByteArray bytes(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

// Counts the blocks of a kind (introducer bytes) in a standalone frame after its head.
int count_blocks(const std::vector<uint8_t>& image, size_t head, uint8_t a, uint8_t b) {
    int n = 0;
    for (size_t i = head; i + 1 < image.size(); ++i)
        n += image[i] == a && image[i + 1] == b;
    return n;
}

} // namespace

TEST(GifScan, CommentsAndControlBlocksBelongWhereTheyStand) {
    GifWriter w(8, 8, kPalette);
    w.Comment("made for a test");
    w.Loop();
    w.Control(10, 1);
    w.Comment("inside the frame");
    w.Image(0, 0, 8, 8, filled(8, 8, 1));
    w.Control(20, 2);
    w.Image(2, 3, 4, 4, filled(4, 4, 2));
    w.Image(0, 0, 8, 8, filled(8, 8, 3)); // no control extension
    const auto gif = w.Finish();
    ASSERT_FALSE(gif.empty());

    GifScanner scan(gif.data(), gif.size());
    ASSERT_TRUE(scan.is_gif());
    EXPECT_EQ(scan.screen().width, 8);
    EXPECT_EQ(scan.screen().colour_table_size, 12u);
    EXPECT_EQ(scan.screen().background, 0xFFFFFFu);
    EXPECT_EQ(scan.CountFrames(), 3);

    const size_t head = 13 + 12;
    auto first = scan.ExtractFrame();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->delay, 10);
    EXPECT_EQ(first->disposal, 1);
    EXPECT_EQ(first->image[head], 0x21) << "the leading comment and loop are passed over";
    EXPECT_EQ(first->image[head + 1], 0xF9);
    EXPECT_EQ(count_blocks(first->image, head, 0x21, 0xF9), 1);
    EXPECT_EQ(count_blocks(first->image, head, 0x21, 0xFE), 1) << "the comment inside the frame, once";
    EXPECT_EQ(first->image.back(), 0x3B);
    QImage decoded;
    EXPECT_TRUE(decoded.loadFromData(first->image.data(), int(first->image.size()), "GIF")) << "stands alone";

    auto second = scan.ExtractFrame();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->disposal, 2);
    EXPECT_EQ(QRect(second->left, second->top, second->width, second->height), QRect(2, 3, 4, 4));
    auto third = scan.ExtractFrame();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->delay, -1) << "no control extension";
    EXPECT_FALSE(scan.ExtractFrame()) << "the trailer ends it";
}

TEST(GifScan, PlainTextFramesAndBrokenFiles) {
    GifWriter w(8, 8, kPalette);
    w.Control(5, 0);
    w.PlainText("hello");
    w.Image(0, 0, 8, 8, filled(8, 8, 1));
    const auto gif = w.Finish();
    GifScanner scan(gif.data(), gif.size());
    EXPECT_EQ(scan.CountFrames(), 2) << "a plain text block is a frame of its own";

    // Every cut of the file: nothing is read past it, and no more frames are found than the whole holds.
    for (size_t n = 0; n < gif.size(); ++n) {
        std::vector<uint8_t> cut(gif.begin(), gif.begin() + long(n));
        GifScanner s(cut.empty() ? nullptr : cut.data(), cut.size());
        EXPECT_LE(s.CountFrames(), 2) << n;
    }
    // An unknown block stops the scan.
    std::vector<uint8_t> odd = gif;
    odd[13 + 12] = 0x77;
    GifScanner bad(odd.data(), odd.size());
    EXPECT_EQ(bad.CountFrames(), 0);
    const uint8_t not_gif[] = "BM this is a bitmap";
    EXPECT_FALSE(GifScanner(not_gif, sizeof not_gif).is_gif());
}

// A frame stays two steps; missing and tiny delays get 100 ms a frame.
TEST(GifScan, StepTimes) {
    const std::pair<int, int> rows[] = {{-1, 50}, {0, 50}, {4, 50}, {5, 25}, {10, 50}, {20, 100}};
    for (auto [delay, step] : rows)
        EXPECT_EQ(GifStepMs(delay), step) << delay;
}

// Our composed frames against Qt's own GIF reader, frame by frame, with every disposal method, offsets and a
// transparent colour.
TEST(GifComposer, FramesMatchQtsOwnReader) {
    GifWriter w(10, 10, kPalette);
    w.Control(10, 1, 3);
    w.Image(0, 0, 10, 10, filled(10, 10, 1));
    w.Control(10, 3, 3); // restore to previous
    w.Image(2, 2, 4, 4, filled(4, 4, 2));
    w.Control(10, 2, 3); // restore to background
    std::vector<uint8_t> holey = filled(6, 6, 0);
    for (int i = 0; i < 36; i += 5)
        holey[size_t(i)] = 3; // transparent pixels keep what is under them
    w.Image(4, 4, 6, 6, holey);
    w.Control(10, 1, 3);
    w.Image(1, 1, 3, 3, filled(3, 3, 2));
    const QByteArray gif = bytes(w.Finish());

    GifComposer ours;
    ASSERT_TRUE(ours.Load(gif));
    ASSERT_TRUE(ours.animated());
    ours.SetBackground(Qt::transparent); // Qt restores to transparent where a transparent colour exists
    ours.Start();

    QBuffer buffer;
    buffer.setData(gif);
    QImageReader qt(&buffer, "GIF");
    for (int frame = 0; frame < 4; ++frame) {
        SCOPED_TRACE(frame);
        ours.DrawCurrent();
        const QImage theirs = qt.read().convertToFormat(QImage::Format_ARGB32);
        const QImage mine = ours.image().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(mine.size(), theirs.size());
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const QRgb a = mine.pixel(x, y), b = theirs.pixel(x, y);
                if (qAlpha(a) == 0 && qAlpha(b) == 0)
                    continue;
                ASSERT_EQ(a, b) << "pixel " << x << "," << y;
            }
        ours.DisposeCurrentAndAdvance();
    }
    EXPECT_EQ(ours.current(), 0) << "after the last frame it starts again";
}

TEST(GifComposer, DisposalKeepsToItsRectangleAndTheLoopClears) {
    GifWriter w(8, 8, kPalette);
    w.Control(10, 0);
    w.Image(0, 0, 8, 8, filled(8, 8, 1));
    w.Control(10, 2);
    w.Image(2, 2, 2, 2, filled(2, 2, 2));
    const QByteArray gif = bytes(w.Finish());
    GifComposer c;
    ASSERT_TRUE(c.Load(gif));
    EXPECT_EQ(c.background(), QColor(Qt::white)) << "from the colour table";
    c.Start();
    c.DrawCurrent();
    c.DisposeCurrentAndAdvance();
    c.DrawCurrent();
    EXPECT_EQ(c.image().pixelColor(2, 2), QColor(0, 255, 0));
    c.DisposeCurrentAndAdvance(); // disposal 2 of the last frame, then the loop's clear
    EXPECT_EQ(c.image().pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(c.image().pixelColor(2, 2), QColor(Qt::white));
    // Frames stay for two steps of half their delay.
    auto loop = c.ComposeLoop();
    ASSERT_EQ(loop.size(), 2u);
    EXPECT_EQ(loop[0].second, 100);
    EXPECT_EQ(loop[1].first.pixelColor(0, 0), QColor(255, 0, 0)) << "disposal 0 keeps the first frame under";
}

namespace {

// A parent that records the picture control's reports.
class Parent : public QWidget, public platform::MessageTarget {
public:
    std::vector<std::pair<unsigned, intptr_t>> got;
    void on_message(unsigned id, intptr_t, intptr_t l) override { got.push_back({id, l}); }
    bool event(QEvent* e) override { return platform::dispatch_message(e, *this) || QWidget::event(e); }
};

} // namespace

TEST(CPictureEx, StillAnimatedHiddenStretchedAndClicked) {
    Parent parent;
    parent.resize(200, 200);
    parent.show();
    CPictureEx picture(&parent, 112);

    GifWriter one(40, 40, kPalette);
    one.Image(0, 0, 40, 40, filled(40, 40, 1));
    ASSERT_TRUE(picture.LoadData(bytes(one.Finish())));
    picture.Play();
    EXPECT_FALSE(picture.timer_running()) << "a single frame is a still picture";
    EXPECT_EQ(picture.size(), QSize(40, 40)) << "without stretch the control takes the picture's size";
    EXPECT_EQ(picture.composer().image().pixelColor(5, 5), QColor(255, 0, 0));

    GifWriter two(40, 40, kPalette);
    two.Control(0, 0);
    two.Image(0, 0, 40, 40, filled(40, 40, 1));
    two.Control(0, 0);
    two.Image(0, 0, 40, 40, filled(40, 40, 2));
    picture.set_stretch(true);
    picture.resize(26, 26);
    ASSERT_TRUE(picture.LoadData(bytes(two.Finish())));
    EXPECT_EQ(picture.size(), QSize(26, 26)) << "stretched: the control keeps its size";
    picture.show();
    picture.Play();
    EXPECT_TRUE(picture.timer_running());
    QTest::qWait(250);
    picture.hide();
    EXPECT_FALSE(picture.timer_running()) << "a hidden picture costs nothing";
    picture.show();
    EXPECT_TRUE(picture.timer_running());

    EXPECT_TRUE(picture.SetTipText(std::string(100, 'x')));
    EXPECT_EQ(picture.tip_text().size(), 63u);
    EXPECT_TRUE(picture.SetTipText(std::string(62, 'x') + "\xD5\xC5"));
    EXPECT_EQ(picture.tip_text().size(), 62u) << "never half a character";

    QTest::mouseClick(&picture, Qt::LeftButton);
    QTest::mouseClick(&picture, Qt::RightButton);
    QApplication::processEvents();
    ASSERT_EQ(parent.got.size(), 3u);
    EXPECT_EQ(parent.got[0], (std::pair<unsigned, intptr_t>{msg::kFaceChosen, 112}));
    EXPECT_EQ(parent.got[1], (std::pair<unsigned, intptr_t>{msg::kPictureAction, 0}));
    EXPECT_EQ(parent.got[2], (std::pair<unsigned, intptr_t>{msg::kPictureAction, 3}));

    const QByteArray junk("GIF89a\x01\x00\x01\x00", 10);
    EXPECT_FALSE(picture.LoadData(junk));
    EXPECT_FALSE(picture.timer_running());
}
