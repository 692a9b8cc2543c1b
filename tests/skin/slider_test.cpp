// The bitmap slider: the position/pixel arithmetic, keys, and dragging with real mouse and key events.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QWidget>

#include "platform/controls.h"
#include "platform/message_ids.h"
#include "platform/messages.h"
#include "skin/CBitmapSlider.h"
#include "skin/slider_geometry.h"
#include "temp_dir.h"

namespace {

SliderGeometry example() {
    SliderGeometry g;
    g.length = 104;
    g.thumb_length = 10;
    g.start_margin = 2;
    g.end_margin = 2;
    return g;
}

// The slider's parent: records the posted messages.
class Parent : public QWidget, public platform::MessageTarget {
public:
    std::vector<std::tuple<unsigned, intptr_t, intptr_t>> got;
    void on_message(unsigned id, intptr_t w, intptr_t l) override { got.emplace_back(id, w, l); }
    bool event(QEvent* e) override { return platform::dispatch_message(e, *this) || QWidget::event(e); }
    std::vector<std::tuple<unsigned, intptr_t, intptr_t>> take() {
        QCoreApplication::processEvents();
        auto out = std::move(got);
        got.clear();
        return out;
    }
};

void write_bmp(const std::string& path, int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(80, 120, 160));
    image.setPixel(0, 0, qRgb(255, 0, 255));
    ASSERT_TRUE(image.save(QString::fromStdString(path), "BMP"));
}

using Msg = std::tuple<unsigned, intptr_t, intptr_t>;

} // namespace

TEST(SliderGeometry, WorkedExample) {
    SliderGeometry g = example();
    EXPECT_EQ(g.track(), 90);
    EXPECT_EQ(g.pixel_of(50), 52);
    EXPECT_EQ(g.pixel_of(51), 52);
    EXPECT_EQ(g.position_of(53), 51);
    EXPECT_EQ(g.pixel_of(0), 7);
    EXPECT_EQ(g.pixel_of(100), 97);
    EXPECT_EQ(g.clamp_pixel(0), 7);
    EXPECT_EQ(g.clamp_pixel(500), 97);
    EXPECT_EQ(g.position_of(97), 100);
    EXPECT_EQ(g.position_of(7), 0);
}

TEST(SliderGeometry, KeysClampAtTheEnds) {
    SliderGeometry g = example();
    EXPECT_EQ(slider_key_position(g, 98, 5, SliderKey::PageDown), 100);
    EXPECT_EQ(slider_key_position(g, 100, 5, SliderKey::Right), 100);
    EXPECT_EQ(slider_key_position(g, 100, 5, SliderKey::Down), 100);
    EXPECT_EQ(slider_key_position(g, 0, 5, SliderKey::Left), 0);
    EXPECT_EQ(slider_key_position(g, 0, 5, SliderKey::Up), 0);
    EXPECT_EQ(slider_key_position(g, 3, 5, SliderKey::PageUp), 0);
    EXPECT_EQ(slider_key_position(g, 40, 5, SliderKey::Home), 0);
    EXPECT_EQ(slider_key_position(g, 40, 5, SliderKey::End), 100);
}

class SliderTest : public ::testing::Test {
protected:
    void SetUp() override {
        write_bmp(dir.file("channel.bmp"), 104, 12);
        write_bmp(dir.file("active.bmp"), 104, 12);
        write_bmp(dir.file("thumb.bmp"), 10, 10);
        slider = new CBitmapSlider(&parent);
        set_control_id(slider, 1036);
        ASSERT_TRUE(slider->LoadChannelBitmaps(QString::fromStdString(dir.file("channel.bmp")),
                                               QString::fromStdString(dir.file("active.bmp"))));
        ASSERT_TRUE(slider->LoadThumbBitmaps(QString::fromStdString(dir.file("thumb.bmp")),
                                             QString::fromStdString(dir.file("thumb.bmp"))));
        slider->SetRange(0, 100);
        slider->SetPageSize(5);
        slider->SetMargin(2, 1, 2, 1);
        slider->SetPosition(50);
        parent.resize(200, 40);
        parent.show();
        parent.take();
    }
    TempDir dir;
    Parent parent;
    CBitmapSlider* slider = nullptr;
};

TEST_F(SliderTest, SizedToItsChannel) {
    EXPECT_EQ(slider->size(), QSize(104, 12));
}

TEST_F(SliderTest, ClickOnTheThumbAndReleasePostsOnlyTheRelease) {
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(54, 5)); // 2 right of the centre 52: on the thumb
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(54, 5));
    EXPECT_EQ(parent.take(), std::vector<Msg>{Msg(msg::kSliderReleased, 1036, 50)});
    EXPECT_EQ(slider->GetPosition(), 50);
}

TEST_F(SliderTest, ClickOnTheChannelJumpsTheThumbThere) {
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(25, 5));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(25, 5));
    const int expected = example().position_of(25);
    EXPECT_EQ(expected, 20);
    EXPECT_EQ(parent.take(), (std::vector<Msg>{Msg(msg::kSliderMoving, 1036, expected),
                                               Msg(msg::kSliderReleased, 1036, expected)}));
}

TEST_F(SliderTest, DragBeyondTheEndsStopsAtMinimumAndMaximum) {
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(52, 5));
    QTest::mouseMove(slider, QPoint(300, 5));
    EXPECT_EQ(slider->GetPosition(), 100);
    QTest::mouseMove(slider, QPoint(301, 5)); // same pixel: nothing posted
    QTest::mouseMove(slider, QPoint(-50, 5));
    EXPECT_EQ(slider->GetPosition(), 0);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(-50, 5));
    EXPECT_EQ(parent.take(),
              (std::vector<Msg>{Msg(msg::kSliderMoving, 1036, 100), Msg(msg::kSliderMoving, 1036, 0),
                                Msg(msg::kSliderReleased, 1036, 0)}));
}

TEST_F(SliderTest, SmallMovesWithinAPixelPostNothing) {
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(52, 5));
    parent.take();
    QTest::mouseMove(slider, QPoint(52, 7));
    EXPECT_TRUE(parent.take().empty());
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(52, 7));
}

TEST_F(SliderTest, KeysMoveClampAndAlwaysPostTheRelease) {
    slider->setFocus();
    slider->SetPosition(98);
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(slider->GetPosition(), 100);
    QTest::keyClick(slider, Qt::Key_Right);
    QTest::keyClick(slider, Qt::Key_Home);
    QTest::keyClick(slider, Qt::Key_Up);
    EXPECT_EQ(parent.take(),
              (std::vector<Msg>{Msg(msg::kSliderReleased, 1036, 100), Msg(msg::kSliderReleased, 1036, 100),
                                Msg(msg::kSliderReleased, 1036, 0), Msg(msg::kSliderReleased, 1036, 0)}));
}

TEST_F(SliderTest, DisabledIgnoresMouseAndKeysAndDrawsNoThumb) {
    slider->Enable(false);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(20, 5));
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_TRUE(parent.take().empty());
    EXPECT_EQ(slider->GetPosition(), 50);
    QImage shot = slider->grab().toImage();
    // Without the thumb and the active part, the centre pixel is the plain channel colour.
    EXPECT_EQ(QColor(shot.pixel(52, 5)), QColor(80, 120, 160));
}

TEST_F(SliderTest, SetPositionClampsAndABadBitmapIsRefused) {
    slider->SetPosition(150);
    EXPECT_EQ(slider->GetPosition(), 100);
    slider->SetPosition(-4);
    EXPECT_EQ(slider->GetPosition(), 0);
    EXPECT_FALSE(slider->LoadThumbBitmaps(QString::fromStdString(dir.file("none.bmp")), QString()));
    EXPECT_FALSE(slider->LoadChannelBitmaps(QString::fromStdString(dir.file("channel.bmp")),
                                            QString::fromStdString(dir.file("none.bmp"))));
}
