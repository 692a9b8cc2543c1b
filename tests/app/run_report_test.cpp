// The run report watches the panels and the roster from outside: the panels alone write nothing, and the
// cameras a headless run opens by itself go through the user list's own watch, up to the number asked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>

#include <filesystem>

#include "app/RunReport.h"
#include "chat/CMsgDlg.h"
#include "platform/text.h"
#include "roster/CLeftDlg.h"
#include "roster/CStatusDlg.h"
#include "session_doubles.h"
#include "temp_dir.h"
#include "wire/packet_types.h"

namespace fs = std::filesystem;

namespace {

class RunReportTest : public ::testing::Test {
protected:
    RunReportTest() {
        fs::copy(fs::path(QUORIN_INSTALL_DIR) / "ui", dir.path() / "ui", fs::copy_options::recursive);
        fs::create_directories(dir.path() / "timage");
        report_file = dir.file("report.txt");
        qputenv("QUORIN_REPORT", QByteArray::fromStdString(report_file));
        list = std::make_unique<CLeftDlg>(&link, roster, &actions, dir.path().string(), "http://127.0.0.1:1",
                                          nullptr);
        list->resize(408, 80);
    }
    ~RunReportTest() override {
        list->StopDownloads();
        qunsetenv("QUORIN_REPORT");
    }
    void self() {
        proto::LoginResult r;
        r.rights = 66;
        r.nickname = utf8_to_gbk("我");
        roster.AddSelf(r, 1);
        roster.SetSelfCamera(true, true);
    }
    void user(uint32_t id, uint32_t fourcc) {
        proto::UserBlock b;
        b.user_id = id;
        b.rights = 66;
        b.stream.fourcc = fourcc;
        b.nickname = utf8_to_gbk("用户") + std::to_string(id);
        roster.Add(b);
    }
    std::string report() {
        QFile f(QString::fromStdString(report_file));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    std::vector<uint32_t> watched() {
        std::vector<uint32_t> ids;
        for (const auto& w : link.windows)
            if (w.operation == 0)
                ids.push_back(w.user_id);
        return ids;
    }

    TempDir dir;
    std::string report_file;
    RecordingLink link;
    RecordingActions actions{&link};
    Roster roster;
    std::unique_ptr<CLeftDlg> list;
};

constexpr uint32_t kXvid = 0x44495658;

} // namespace

TEST_F(RunReportTest, PanelsAloneReportNothingTheObserverReportsWhatTheyShowed) {
    self();
    user(100, 0);
    EXPECT_EQ(report(), "") << "without an observer the user list tells nobody";

    RunReport run(roster, *list, 0);
    list->set_observer(&run);
    CMsgDlg log(&link, nullptr, dir.path().string(), nullptr);
    CStatusDlg status(&link, &actions, dir.path().string(), nullptr);
    log.set_observer(&run);
    status.set_observer(&run);
    user(200, 0);
    roster.SetMicrophone(200, true);
    log.AddNoticeLine(utf8_to_gbk("你好"));
    log.AddFileNoticeLine(utf8_to_gbk("已保存"), "/tmp/a b.png");
    status.SetUserCount(3);
    status.ShowUserCount();
    status.ShowLinkState(utf8_to_gbk("正在重新连接"));
    roster.Remove(100);
    const std::string r = report();
    for (const char* line :
         {"tile_filled=2 200 drawn\n", "user_added=200\n", "tile=200 mic=1 video=0 hand=0 host=0\n",
          "notice=你好\n", "notice=已保存 /tmp/a b.png\n", "user_count=3\n", "link_state=正在重新连接\n",
          "user_removed=100\n"})
        EXPECT_NE(r.find(line), std::string::npos) << line << " in:\n" << r;
    EXPECT_TRUE(watched().empty()) << "nothing opened without being asked";
    list->set_observer(nullptr);
}

TEST_F(RunReportTest, CamerasOpenByThemselvesAsAClickWouldUpToTheNumberAsked) {
    RunReport run(roster, *list, 2);
    self();                                                        // the own camera is never watched
    user(100, 0);                                                  // no camera yet
    user(200, kXvid);                                              // watched at once
    roster.SetStream(100, proto::StreamDesc{kXvid, 320, 240, 24}); // its camera comes on: watched
    user(300, kXvid);                                              // past the number asked
    EXPECT_EQ(watched(), (std::vector<uint32_t>{200, 100}));
    ASSERT_EQ(link.sent.size(), 2u);
    for (const auto& [type, payload] : link.sent)
        EXPECT_EQ(type, pkt::kWatchVideo) << "the click's intent";
    EXPECT_TRUE(roster.FindById(200)->block.state & pkt::kStateVideo);
    EXPECT_TRUE(roster.FindById(100)->block.state & pkt::kStateVideo);
    EXPECT_FALSE(roster.FindById(300)->block.state & pkt::kStateVideo);
    // A camera watched and changed again is not opened twice.
    roster.SetMicrophone(200, true);
    EXPECT_EQ(watched().size(), 2u);
}
