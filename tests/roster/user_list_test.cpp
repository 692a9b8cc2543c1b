// The user list: paging, departures, pictures, the icons' clicks and the host's prompts, against a real
// roster and a send interface double.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>

#include <filesystem>

#include "controls/CPictureEx.h"
#include "eventually.h"
#include "platform/text.h"
#include "roster/CLeftDlg.h"
#include "session_doubles.h"
#include "temp_dir.h"
#include "web_host.h"
#include "wire/packet_types.h"

namespace fs = std::filesystem;

namespace {

using Link = RecordingLink;

class UserList : public ::testing::Test {
protected:
    UserList() {
        fs::copy(fs::path(QUORIN_INSTALL_DIR) / "ui", dir.path() / "ui", fs::copy_options::recursive);
        fs::create_directories(dir.path() / "timage");
        // The web host answers nothing: these tests deliver pictures themselves.
        list = std::make_unique<CLeftDlg>(&link, roster, &actions, dir.path().string(), "http://127.0.0.1:1",
                                          nullptr);
        list->resize(408, 80);
        list->show();
        list->ask = [this](const QString& text, const QString& caption) {
            questions.push_back(caption.toStdString() + ": " + text.toStdString());
            return answer;
        };
    }
    ~UserList() override { list->StopDownloads(); }

    void self(uint32_t rights) {
        proto::LoginResult r;
        r.rights = rights;
        r.nickname = utf8_to_gbk("我");
        roster.AddSelf(r, 1);
    }
    void user(uint32_t id, uint32_t rights = 66, uint32_t fourcc = 0, const char* nick_utf8 = nullptr) {
        proto::UserBlock b;
        b.user_id = id;
        b.rights = rights;
        b.stream.fourcc = fourcc;
        b.nickname = nick_utf8 ? utf8_to_gbk(nick_utf8) : utf8_to_gbk("用户") + std::to_string(id);
        roster.Add(b);
    }
    QString tip_of(uint32_t id) {
        for (int s = 0; s < list->tiles_per_page(); ++s)
            if (list->TileUser(s) == id)
                return list->tile(s)->toolTip();
        return {};
    }
    // The user's picture is stored and reported, as the worker would.
    void picture(uint32_t id) {
        QImage image(40, 40, QImage::Format_RGB32);
        image.fill(QColor(10 * int(id % 25), 100, 200));
        ASSERT_TRUE(
            image.save(QString::fromStdString((dir.path() / "timage" / std::to_string(id)).string()), "PNG"));
        list->OnPictureReady(download::kStored, id);
    }
    std::vector<uint32_t> shown() {
        std::vector<uint32_t> ids;
        for (int s = 0; s < list->tiles_per_page(); ++s)
            ids.push_back(list->TileUser(s));
        return ids;
    }
    // Clicks the middle of an icon's corner of the tile that shows `id`.
    void click(uint32_t id, CLeftDlg::Icon icon) {
        int slot = -1;
        for (int s = 0; s < list->tiles_per_page(); ++s)
            if (list->TileUser(s) == id)
                slot = s;
        ASSERT_GE(slot, 0);
        const QSize size = list->tile(slot)->size();
        const CSkinBitmap& b = list->icon(icon);
        const bool right = icon == CLeftDlg::kHand || icon == CLeftDlg::kCameraOn;
        const bool bottom = icon != CLeftDlg::kHand && icon != CLeftDlg::kTeacher;
        list->ClickTile(slot, QPoint(right ? size.width() - b.width() / 2 - 1 : b.width() / 2,
                                     bottom ? size.height() - b.height() / 2 - 1 : b.height() / 2));
    }

    // Double clicks that icon with the mouse, as a person does: press, release, press, release.
    void double_click(uint32_t id, CLeftDlg::Icon icon) {
        int slot = -1;
        for (int s = 0; s < list->tiles_per_page(); ++s)
            if (list->TileUser(s) == id)
                slot = s;
        ASSERT_GE(slot, 0);
        CPictureEx* tile = list->tile(slot);
        const CSkinBitmap& b = list->icon(icon);
        const bool right = icon == CLeftDlg::kHand || icon == CLeftDlg::kCameraOn;
        const bool bottom = icon != CLeftDlg::kHand && icon != CLeftDlg::kTeacher;
        const QPoint at(right ? tile->width() - b.width() / 2 - 1 : b.width() / 2,
                        bottom ? tile->height() - b.height() / 2 - 1 : b.height() / 2);
        QTest::mouseMove(tile, at);
        QTest::mouseDClick(list->windowHandle(), Qt::LeftButton, {}, tile->mapTo(list.get(), at));
        QApplication::processEvents();
        QApplication::processEvents();
    }

    TempDir dir;
    Link link;
    RecordingActions actions{&link};
    Roster roster;
    std::unique_ptr<CLeftDlg> list;
    std::vector<std::string> questions;
    bool answer = true;
};

} // namespace

TEST_F(UserList, SevenUsersInPages) {
    self(66);
    for (uint32_t id = 2; id <= 7; ++id)
        user(id);
    for (uint32_t id = 1; id <= 7; ++id)
        picture(id);
    EXPECT_EQ(shown(), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    list->NextPage();
    EXPECT_EQ(list->page(), 1);
    EXPECT_EQ(shown(), (std::vector<uint32_t>{6, 7, 0, 0, 0}));
    list->NextPage();
    EXPECT_EQ(list->page(), 1) << "there is no third page";
    list->PreviousPage();
    EXPECT_EQ(shown(), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    list->PreviousPage();
    EXPECT_EQ(list->page(), 0);
    roster.Remove(7);
    roster.Remove(6);
    list->NextPage();
    EXPECT_EQ(list->page(), 0) << "five users are one page";
}

TEST_F(UserList, ATallListShowsMoreRowsAndKeepsTheFirstShownUser) {
    self(66);
    for (uint32_t id = 2; id <= 23; ++id)
        user(id);
    list->NextPage();
    list->NextPage();
    EXPECT_EQ(shown(), (std::vector<uint32_t>{11, 12, 13, 14, 15}));
    list->resize(408, 240);
    list->SetRows(3);
    ASSERT_EQ(list->tiles_per_page(), 15);
    EXPECT_EQ(list->page(), 0) << "user 11 is on the first page of fifteen";
    EXPECT_EQ(shown()[10], 11u);
    EXPECT_EQ(shown()[14], 15u);
    // Three rows of square tiles inside the list, none overlapping.
    const QRect first = list->tile(0)->geometry(), last = list->tile(14)->geometry();
    EXPECT_EQ(first.width(), first.height());
    EXPECT_GT(last.top(), list->tile(9)->geometry().bottom());
    EXPECT_LE(last.bottom(), list->height());
    list->NextPage();
    EXPECT_EQ(shown(), (std::vector<uint32_t>{16, 17, 18, 19, 20, 21, 22, 23, 0, 0, 0, 0, 0, 0, 0}));
    roster.Remove(17);
    EXPECT_EQ(shown()[1], 18u) << "departures move the others up as in one row";
    list->SetRows(1);
    EXPECT_EQ(list->tiles_per_page(), 5);
    EXPECT_EQ(list->page(), 3) << "the first shown user, 16, stays on the page";
    EXPECT_EQ(shown(), (std::vector<uint32_t>{16, 18, 19, 20, 21}));
    EXPECT_FALSE(list->tile(5)->isVisible());
    EXPECT_EQ(list->TileUser(5), 0u) << "a hidden tile keeps nobody";
}

TEST_F(UserList, DeparturesOnBeforeAndAfterTheShownPage) {
    self(66);
    for (uint32_t id = 2; id <= 12; ++id)
        user(id);
    for (uint32_t id = 1; id <= 12; ++id)
        picture(id);
    roster.Remove(3); // on the shown page: the others move left
    EXPECT_EQ(shown(), (std::vector<uint32_t>{1, 2, 4, 5, 6}));
    roster.Remove(9); // on a later page: nothing shown changes
    EXPECT_EQ(shown(), (std::vector<uint32_t>{1, 2, 4, 5, 6}));
    list->NextPage();
    EXPECT_EQ(shown(), (std::vector<uint32_t>{7, 8, 10, 11, 12}));
    roster.Remove(2); // on an earlier page: the shown tiles stay until the page changes
    EXPECT_EQ(shown(), (std::vector<uint32_t>{7, 8, 10, 11, 12}));
    list->PreviousPage();
    list->NextPage();
    EXPECT_EQ(shown(), (std::vector<uint32_t>{8, 10, 11, 12, 0}));
    roster.Remove(10);
    EXPECT_EQ(shown(), (std::vector<uint32_t>{8, 11, 12, 0, 0})) << "the last freed tile is cleared";
    roster.Remove(8);
    roster.Remove(11);
    EXPECT_EQ(shown(), (std::vector<uint32_t>{12, 0, 0, 0, 0}));
    roster.Remove(12); // the only user of the page leaves: back to page 0
    EXPECT_EQ(list->page(), 0);
    EXPECT_EQ(shown(), (std::vector<uint32_t>{1, 4, 5, 6, 7}));
}

TEST_F(UserList, PicturesDrawnUntilStoredAndMarkedOffThePage) {
    self(66);
    for (uint32_t id = 2; id <= 7; ++id)
        user(id);
    EXPECT_EQ(shown(), (std::vector<uint32_t>{1, 2, 3, 4, 5})) << "drawn pictures until the real ones come";
    const QImage drawn = list->tile(1)->composer().image();
    picture(2);
    EXPECT_NE(list->tile(1)->composer().image(), drawn) << "the stored picture replaces the drawn one";
    picture(7); // off the shown page: only marked
    EXPECT_EQ(roster.FindById(7)->picture_ready, 7u);
    list->OnPictureReady(download::kUrlFailed, 6);
    EXPECT_EQ(roster.FindById(6)->picture_ready, 0u);
    list->NextPage();
    EXPECT_EQ(shown(), (std::vector<uint32_t>{6, 7, 0, 0, 0}));
    EXPECT_EQ(list->tile(1)->composer().image().pixelColor(20, 20), QColor(70, 100, 200));
    roster.Clear();
    EXPECT_EQ(list->page(), 0);
    EXPECT_EQ(shown(), (std::vector<uint32_t>(5, 0)));
}

TEST_F(UserList, TheHostGrantsWithdrawsAndApproves) {
    self(71); // host
    user(2);
    user(3);
    answer = false;
    click(2, CLeftDlg::kMicOff);
    EXPECT_TRUE(link.sent.empty()) << "No: nothing sent";
    answer = true;
    click(2, CLeftDlg::kMicOff);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].first, pkt::kSpeakControl);
    auto grant = proto::SpeakControl::decode(link.sent[0].second.data(), link.sent[0].second.size());
    EXPECT_EQ(grant->user_id, 2u);
    EXPECT_EQ(grant->allow, 1);
    EXPECT_TRUE(roster.FindById(2)->block.state & pkt::kStateMicrophone);
    click(2, CLeftDlg::kMicOn);
    EXPECT_EQ(proto::SpeakControl::decode(link.sent[1].second.data(), link.sent[1].second.size())->allow, 0);
    EXPECT_FALSE(roster.FindById(2)->block.state & pkt::kStateMicrophone);

    click(3, CLeftDlg::kHand);
    EXPECT_EQ(link.sent.size(), 2u) << "no raised hand: nothing to approve";
    roster.SetState(3, pkt::kStateHand, true);
    click(3, CLeftDlg::kHand);
    EXPECT_EQ(link.sent.size(), 3u);
    EXPECT_FALSE(roster.FindById(3)->block.state & pkt::kStateHand);
    click(1, CLeftDlg::kMicOff);
    click(2, CLeftDlg::kTeacher);
    EXPECT_EQ(link.sent.size(), 3u) << "the own microphone and the host icon do nothing";
    EXPECT_EQ(questions, (std::vector<std::string>{"提示: 你确定让用户2发言？", "提示: 你确定让用户2发言？",
                                                   "提示: 你确定取消用户2的发言权利？",
                                                   "审批: 用户3申请发言，是否允许？"}));
}

// Two students of one name: the host is asked about the one clicked, named with its user id, and each
// tile says which one it is while both are in the room.
TEST_F(UserList, TwoStudentsOfOneNameAreNamedWithTheirUserIds) {
    self(71);
    user(2, 66, 0, "李明");
    EXPECT_TRUE(tip_of(2).startsWith(QString::fromUtf8("李明，"))) << tip_of(2).toStdString();
    user(3, 66, 0, "李明");
    EXPECT_TRUE(tip_of(2).startsWith(QString::fromUtf8("李明 (2)，"))) << tip_of(2).toStdString();
    EXPECT_TRUE(tip_of(3).startsWith(QString::fromUtf8("李明 (3)，"))) << tip_of(3).toStdString();
    answer = false;
    click(3, CLeftDlg::kMicOff);
    EXPECT_EQ(questions, std::vector<std::string>{"提示: 你确定让李明 (3)发言？"});
    roster.Remove(3);
    EXPECT_TRUE(tip_of(2).startsWith(QString::fromUtf8("李明，"))) << tip_of(2).toStdString();
}

TEST_F(UserList, ParticipantsAreNotAskedAndCamerasOpenAndClose) {
    self(66); // not the host
    user(2, 66, 0x44495658);
    user(3, 66, 0);
    roster.SetState(2, pkt::kStateHand, true);
    click(2, CLeftDlg::kMicOff);
    click(2, CLeftDlg::kHand);
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(link.sent.empty());

    click(1, CLeftDlg::kCameraOn);
    EXPECT_EQ(std::count(link.requests.begin(), link.requests.end(), kReqToggleCamera), 1) << "own camera";
    click(2, CLeftDlg::kCameraOn);
    ASSERT_EQ(link.windows.size(), 1u);
    EXPECT_EQ(link.windows[0].operation, 0);
    EXPECT_EQ(link.windows[0].user_id, 2u);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].first, pkt::kWatchVideo);
    EXPECT_TRUE(roster.FindById(2)->block.state & pkt::kStateVideo);
    click(2, CLeftDlg::kCameraOn);
    EXPECT_EQ(actions.stopped, std::vector<uint32_t>{2});
    click(3, CLeftDlg::kCameraOn);
    EXPECT_EQ(link.sent.size(), 1u) << "no camera: nothing in that corner";
}

TEST_F(UserList, ADoubleClickOnAnIconActsOnlyAsItsFirstClick) {
    self(71); // host
    user(2, 66, 0x44495658);
    ASSERT_NE(list->windowHandle(), nullptr);
    double_click(2, CLeftDlg::kCameraOn);
    ASSERT_EQ(link.windows.size(), 1u) << "the video opens and stays open";
    EXPECT_EQ(link.windows[0].operation, 0);
    EXPECT_TRUE(actions.stopped.empty());
    EXPECT_TRUE(roster.FindById(2)->block.state & pkt::kStateVideo);

    double_click(1, CLeftDlg::kCameraOn);
    EXPECT_EQ(std::count(link.requests.begin(), link.requests.end(), kReqToggleCamera), 1)
        << "the own camera toggles once";

    double_click(2, CLeftDlg::kMicOff);
    EXPECT_EQ(questions.size(), 1u) << "the host is asked once";
    EXPECT_EQ(link.sent.size(), 2u) << "the watch request and one grant";
}

TEST_F(UserList, IconsAreDrawnOverThePicture) {
    self(66);
    user(2);
    picture(2);
    auto corner = [&] {
        const QImage shot = list->tile(1)->grab().toImage();
        return shot.copy(shot.width() - list->icon(CLeftDlg::kHand).width(), 0,
                         list->icon(CLeftDlg::kHand).width(), list->icon(CLeftDlg::kHand).height());
    };
    const QImage before = corner();
    roster.SetState(2, pkt::kStateHand, true);
    EXPECT_NE(corner(), before) << "the raised hand shows in the top-right corner";
}

// The whole road of a picture: the local user's record starts the queue, each user's picture is fetched from
// the web host on the worker, stored scaled down under the user id, and the tile shows it.
TEST(UserListPictures, ComeFromTheWebHostThroughTheQueue) {
    TestWebHost web;
    TempDir dir;
    fs::create_directories(dir.path() / "timage");
    Link link;
    Roster roster;
    CLeftDlg list(&link, roster, nullptr, dir.path().string(), web.base(), nullptr);
    list.resize(408, 80);
    list.show();
    proto::UserBlock early;
    early.user_id = 5;
    roster.Add(early); // before the local user: its request is lost with the queue's first reset
    proto::LoginResult r;
    roster.AddSelf(r, 1);
    proto::UserBlock other;
    other.user_id = 2;
    roster.Add(other);
    eventually_with_events([&] { return roster.FindById(2)->picture_ready != 0; });
    EXPECT_EQ(roster.FindById(1)->picture_ready, 1u);
    EXPECT_EQ(roster.FindById(2)->picture_ready, 2u);
    EXPECT_EQ(roster.FindById(5)->picture_ready, 0u);
    const QImage stored(QString::fromStdString((dir.path() / "timage" / "2").string()));
    EXPECT_EQ(stored.pixelColor(10, 10),
              QImage::fromData(QByteArray::fromStdString(TestWebHost::picture_for(2))).pixelColor(10, 10));
    EXPECT_EQ(list.tile(2)->composer().image().pixelColor(20, 20), stored.pixelColor(20, 20));
    list.StopDownloads();
}
