// The main window: hit-testing, the places of the panels and title buttons, the skinned frame, maximise and
// restore with the title button's picture sets, and a screenshot for people to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include <filesystem>

#include "app/CtalvexDlg.h"
#include "app/frame_geometry.h"
#include "platform/controls.h"
#include "platform/paths.h"
#include "temp_dir.h"
#include "video/CMediaDlg.h"
#include "video/capture.h"

namespace fs = std::filesystem;

TEST(FrameGeometry, CornersAreEasyToHit) {
    const int W = 1028, H = 600;
    EXPECT_EQ(hit_test(W, H, 2, 2), kHitTopLeft);
    EXPECT_EQ(hit_test(W, H, 1, 18), kHitTopLeft) << "along the left edge near the top";
    EXPECT_EQ(hit_test(W, H, 18, 1), kHitTopLeft) << "along the top edge near the left";
    EXPECT_EQ(hit_test(W, H, 2, 21), kHitLeft);
    EXPECT_EQ(hit_test(W, H, 6, 6), kHitCaption) << "inside the band: free";
    EXPECT_EQ(hit_test(W, H, 300, 2), kHitTop);
    EXPECT_EQ(hit_test(W, H, W - 2, 300), kHitRight);
    EXPECT_EQ(hit_test(W, H, W - 15, 3), kHitTopRight);
    EXPECT_EQ(hit_test(W, H, 3, H - 15), kHitBottomLeft);
    EXPECT_EQ(hit_test(W, H, W - 1, H - 1), kHitBottomRight);
    EXPECT_EQ(hit_test(W, H, W - 19, H - 2), kHitBottomRight);
    EXPECT_EQ(hit_test(W, H, 500, H - 3), kHitBottom);
    EXPECT_EQ(hit_test(W, H, 11, 11), kHitCaption) << "any free area drags the window";
    EXPECT_EQ(hit_test(W, H, 500, 300), kHitCaption);
    EXPECT_EQ(cursor_for(kHitLeft), CursorShape::SizeWE);
    EXPECT_EQ(cursor_for(kHitBottom), CursorShape::SizeNS);
    EXPECT_EQ(cursor_for(kHitBottomRight), CursorShape::SizeNWSE);
    EXPECT_EQ(cursor_for(kHitTopRight), CursorShape::SizeNESW);
    EXPECT_EQ(cursor_for(kHitCaption), CursorShape::Arrow);
}

TEST(FrameGeometry, PanelPlacesAtTheFirstSize) {
    const PanelPlaces p = layout_panels(1028, 600, Borders{4, 4, 4, 4});
    EXPECT_EQ(p.media, (Rect{4, 74, 255, 191}));
    EXPECT_EQ(p.video, (Rect{259, 74, 765, 191}));
    EXPECT_EQ(p.user_list, (Rect{4, 265, 408, 80}));
    EXPECT_EQ(p.chat_input, (Rect{4, 345, 408, 191}));
    EXPECT_EQ(p.status_bar, (Rect{4, 536, 408, 60}));
    EXPECT_EQ(p.message_log, (Rect{412, 265, 612, 331}));
    const PanelPlaces none = layout_panels(960, 500, Borders{});
    EXPECT_EQ(none.user_list.width, 384);
    EXPECT_EQ(none.message_log.width, 576);
}

TEST(FrameGeometry, PicturesGrowKeepingFourToThreeAndAlwaysFit) {
    for (auto [W, H] :
         {std::pair{800, 480}, {960, 500}, {1028, 600}, {1600, 1000}, {1920, 1040}, {2560, 600}}) {
        SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H));
        const PanelPlaces p = layout_panels(W, H, Borders{4, 4, 4, 4});
        EXPECT_EQ(p.media.height, p.media.width * 3 / 4);
        EXPECT_EQ(p.video.width, 3 * p.media.width) << "three remote pictures of the same size";
        EXPECT_GE(p.media.x, 4);
        EXPECT_LE(p.video.x + p.video.width, W - 4) << "the fourth picture is never cut off";
        EXPECT_NEAR(p.media.x - 4, W - 4 - (p.video.x + p.video.width), 1) << "centred";
        EXPECT_GE(p.chat_input.height, 90) << "the chat input keeps room";
        EXPECT_EQ(p.user_list.y, p.media.y + p.media.height);
        EXPECT_EQ(p.status_bar.y + p.status_bar.height, H - 4);
    }
    EXPECT_GT(layout_panels(1600, 1000, Borders{4, 4, 4, 4}).media.width, 390) << "maximised, they grow";
    EXPECT_NEAR(layout_panels(2560, 600, Borders{4, 4, 4, 4}).media.height, 600 - 8 - 70 - 230, 1)
        << "a wide, low window: the height decides";
}

TEST(FrameGeometry, ATallWindowGivesTheUserListRowsNotTheChatInput) {
    EXPECT_EQ(layout_panels(1028, 600, Borders{4, 4, 4, 4}).user_list_rows, 1);
    for (auto [W, H] : {std::pair{1600, 1000}, {1920, 1040}, {1028, 1000}, {800, 1000}}) {
        SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H));
        const PanelPlaces p = layout_panels(W, H, Borders{4, 4, 4, 4});
        EXPECT_GE(p.user_list_rows, 2);
        EXPECT_LE(p.user_list_rows, kUserListMaxRows);
        EXPECT_GE(p.chat_input.height, kChatRoomyHeight);
        if (p.user_list_rows < kUserListMaxRows) {
            EXPECT_LT(p.chat_input.height, kChatRoomyHeight + p.user_list.height / p.user_list_rows)
                << "another row would have fitted";
        }
        EXPECT_EQ(p.chat_input.y, p.user_list.y + p.user_list.height);
        EXPECT_EQ(p.chat_input.y + p.chat_input.height, p.status_bar.y);
    }
}

TEST(FrameGeometry, TitleButtonsRightToLeft) {
    const Borders b{4, 4, 4, 4};
    auto places = place_title_buttons(1028, b, {{28, 22}, {28, 22}, {28, 22}, {30, 22}, {0, 0}});
    EXPECT_EQ(places[2], (Rect{1028 - 28 - 4 - 1, 8, 28, 22}));
    EXPECT_EQ(places[1].x, places[2].x - 29) << "equal widths end up 1 pixel apart";
    EXPECT_EQ(places[0].x, places[1].x - 29);
    EXPECT_EQ(places[3].x, places[0].x - 29) << "the step uses the width of the button just placed";
    EXPECT_EQ(places[4].x, places[3].x - 31);
    auto two = place_title_buttons(1028, b, {{20, 10}, {40, 10}});
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].x, 1028 - 0 - 4 - 1 - 0 - 1) << "an absent entry 2 counts as width 0";
    EXPECT_EQ(two[0].x, two[1].x - 41);
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A private install folder with the real skin and no service program.
        fs::copy(fs::path(QUORIN_INSTALL_DIR) / "ui", dir.path() / "ui", fs::copy_options::recursive);
        if (!with_title_layout)
            fs::remove(dir.path() / "ui" / "top.txt");
        fs::create_directories(dir.path() / "log");
        write_file(dir.file("user.txt"), "[network]\nport=1\n" + extra_settings);
        set_install_folder(dir.path().string());
        dlg = std::make_unique<CtalvexDlg>();
        dlg->OnInitDialog();
        dlg->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        dlg.reset();
        set_install_folder(QUORIN_INSTALL_DIR);
    }
    QPushButton* button(int id) { return qobject_cast<QPushButton*>(get_dlg_item(dlg.get(), id)); }
    // Pixels of the skin's key colour visible in the window as drawn now.
    int magenta_pixels() {
        const QImage shot = dlg->grab().toImage();
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                n += (shot.pixel(x, y) & 0xFFFFFF) == 0xFF00FF;
        return n;
    }
    bool with_title_layout = true;
    std::string extra_settings;
    TempDir dir;
    std::unique_ptr<CtalvexDlg> dlg;
};

TEST_F(MainWindowTest, OpensFramelessAtTheFirstSizeWithItsLimits) {
    EXPECT_EQ(dlg->size(), QSize(1028, 600));
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dlg->minimumSize(), QSize(800, 480));
    EXPECT_EQ(dlg->windowTitle(), QString::fromUtf8("Lumeno视频社区"));
    const Borders b = dlg->FrameBorders();
    EXPECT_EQ(b.left, 4);
    EXPECT_EQ(b.top, 4);
    EXPECT_EQ(dlg->panel_widget("message_log")->geometry(), QRect(412, 265, 612, 331));
    EXPECT_EQ(dlg->panel_widget("user_list")->geometry(), QRect(4, 265, 408, 80));
    // The title buttons are skin buttons, close rightmost.
    ASSERT_TRUE(button(1069)->isVisible());
    EXPECT_EQ(button(1069)->geometry().right(), 1028 - 4 - 1 - 1);
    EXPECT_TRUE(button(1069)->text().isEmpty());
    EXPECT_FALSE(button(1077)->isVisible()) << "template buttons without a skin entry stay hidden";
    dlg->resize(700, 400);
    EXPECT_EQ(dlg->size(), QSize(800, 480)) << "the minimum size holds";
}

TEST_F(MainWindowTest, LayoutFollowsTheSize) {
    dlg->resize(1200, 700);
    QApplication::processEvents();
    EXPECT_EQ(dlg->panel_widget("message_log")->geometry(), QRect(4 + 476, 297, 1192 - 476, 700 - 4 - 297));
    EXPECT_EQ(dlg->panel_widget("media_panel")->geometry(), QRect(4, 74, 298, 223)) << "the pictures grow";
    EXPECT_EQ(button(1069)->geometry().right(), 1200 - 4 - 1 - 1);
    EXPECT_FALSE(dlg->mask().isEmpty());
    EXPECT_FALSE(dlg->mask().contains(QPoint(0, 0))) << "rounded corners";
    EXPECT_TRUE(dlg->mask().contains(QPoint(600, 350)));
}

TEST_F(MainWindowTest, MaximiseTwiceReturnsToTheFirstSizeAndPictures) {
    CSkinButtons& tb = dlg->title_buttons();
    ASSERT_GT(tb.count(), 1);
    const QImage first = tb.entry(1).button->CurrentPicture();
    const QSize before = dlg->size();
    QTest::mouseClick(button(1068), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_TRUE(dlg->isMaximized());
    EXPECT_EQ(button(1068)->toolTip(), QString::fromUtf8("还原"));
    EXPECT_NE(tb.entry(1).button->CurrentPicture(), first);
    QTest::mouseClick(button(1068), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(dlg->isMaximized());
    EXPECT_EQ(dlg->size(), before);
    EXPECT_EQ(button(1068)->toolTip(), QString::fromUtf8("最大化"));
    EXPECT_EQ(tb.entry(1).button->CurrentPicture(), first);
}

TEST_F(MainWindowTest, NoKeyColourShowsBeforeOrAfterMaximise) {
    EXPECT_EQ(magenta_pixels(), 0);
    QTest::mouseClick(button(1068), Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_TRUE(dlg->isMaximized());
    EXPECT_EQ(magenta_pixels(), 0) << "the restore picture set is drawn with its key colour";
    QTest::mouseClick(button(1068), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(magenta_pixels(), 0);
}

TEST_F(MainWindowTest, EscapeDoesNotLeaveTheClassButTheWindowManagersCloseDoes) {
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(dlg->isVisible());
    auto* chat_line = dlg->panel_widget("chat_input")->findChild<QTextEdit*>();
    ASSERT_NE(chat_line, nullptr);
    chat_line->setFocus();
    QTest::keyClick(chat_line, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_TRUE(dlg->isVisible()) << "Escape in the chat line";
    dlg->setResult(-1);
    EXPECT_TRUE(dlg->close());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), 0) << "ended like the close button";
}

class MainWindowWithoutTitleLayout : public MainWindowTest {
protected:
    MainWindowWithoutTitleLayout() { with_title_layout = false; }
};

TEST_F(MainWindowWithoutTitleLayout, KeepsTheTemplateButtonsThatWork) {
    for (int id : {1067, 1068, 1069}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(button(id)->isVisible());
        EXPECT_FALSE(button(id)->text().isEmpty()) << "the template look";
        EXPECT_LT(button(id)->geometry().top(), 40) << "in the title strip";
    }
    EXPECT_GT(button(1069)->geometry().left(), button(1068)->geometry().right());
    QTest::mouseClick(button(1068), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_TRUE(dlg->isMaximized());
    EXPECT_EQ(button(1069)->geometry().right(), dlg->width() - 4 - 1 - 1);
    QTest::mouseClick(button(1068), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(dlg->isMaximized());
    QTest::mouseClick(button(1069), Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
}

class MainWindowWithCamera : public MainWindowTest {
protected:
    MainWindowWithCamera() { extra_settings = "[media]\ntest_camera=1\n"; }
};

TEST_F(MainWindowWithCamera, TheCaptureThreadEndsBeforeTheLink) {
    auto* media = dynamic_cast<CMediaDlg*>(dlg->panel_widget("media_panel"));
    ASSERT_NE(media, nullptr);
    ASSERT_TRUE(media->SwitchCamera(true, int(capture::list_cameras(true).size()) - 1));
    ASSERT_TRUE(media->engine().is_open());
    // The window's end closes the link; the camera, which sends through it, is closed first.
    dlg->OnDestroy();
    EXPECT_FALSE(media->engine().is_open());
    EXPECT_FALSE(media->camera_open());
}

TEST_F(MainWindowTest, ScreenshotForPeopleToLookAt) {
    const QString path =
        QString::fromStdString((fs::path(QUORIN_INSTALL_DIR).parent_path() / "main_window.png").string());
    ASSERT_TRUE(dlg->grab().save(path, "PNG")) << path.toStdString();
    const QImage shot(path);
    EXPECT_EQ(shot.size(), QSize(1028, 600));
    // The frame is drawn from the skin: the left border's colour at the left edge.
    EXPECT_EQ(QColor(shot.pixel(1, 300)), QColor(46, 74, 99));
}
