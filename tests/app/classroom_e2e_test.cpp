// Running a class through the real window: the main dialog in this process, its own velmor relaying to a real
// room server, and the other participants as plain connections to that server. The host's queue of hands,
// granting and lowering, speech withdrawn from everybody, removal from the class, tiles that tell users apart
// without a directory, private lines, the chat log's menu, and the keyboard.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QSlider>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "app/CtalvexDlg.h"
#include "chat/CChatDlg.h"
#include "chat/CMsgDlg.h"
#include "chat/CRichEditCtrlEx.h"
#include "devices/CAudioSetup.h"
#include "platform/controls.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "roster/CHandQueueDlg.h"
#include "roster/CLeftDlg.h"
#include "temp_dir.h"
#include "video/CMediaDlg.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace fs = std::filesystem;

namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Where the screenshots for people go: beside the build's install folder.
QString shot_path(const char* name) {
    const fs::path folder = fs::path(QUORIN_INSTALL_DIR).parent_path() / "test-shots";
    fs::create_directories(folder);
    return QString::fromStdString((folder / name).string());
}

} // namespace

class ClassroomWindow : public ::testing::Test {
protected:
    void TearDown() override {
        dlg.reset();
        set_install_folder(QUORIN_INSTALL_DIR);
    }

    // The window logs in as `user` into `room` through its own service, relaying to the room server.
    void Open(uint32_t user, uint32_t room) {
        const fs::path built = QUORIN_INSTALL_DIR;
        for (const char* folder : {"ui", "Faces", "sound"})
            fs::copy(built / folder, dir.path() / folder, fs::copy_options::recursive);
        fs::copy_file(built / "velmor", dir.path() / "velmor");
        fs::create_directories(dir.path() / "log");
        fs::create_directories(dir.path() / "timage");
        write_file(dir.file("user.txt"), "[network]\nport=any\n[room]\nserver=127.0.0.1:" +
                                             std::to_string(server.port()) + "\n" + extra_settings);
        set_install_folder(dir.path().string());
        dlg = std::make_unique<CtalvexDlg>();
        dlg->launch().user_id = user;
        dlg->launch().room_id = room;
        dlg->OnInitDialog();
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->session().roster().Self() != nullptr; }, 20000))
            << "no login";
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get(), 5000));
    }

    // A participant's packet of `type`, while the window keeps running.
    std::optional<Packet> Await(RoomPeer& peer, uint16_t type, int timeout_ms = 8000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeout_ms) {
            if (auto p = peer.wait_for(type, 10))
                return p;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return std::nullopt;
    }
    bool WaitFor(const std::function<bool()>& done, int timeout_ms = 8000) {
        return QTest::qWaitFor(done, timeout_ms);
    }
    QString Log() { return log()->PlainLog(); }
    bool LogHas(const QString& text) {
        return WaitFor([&] { return Log().contains(text); });
    }
    CMsgDlg* log() { return dynamic_cast<CMsgDlg*>(dlg->panel_widget("message_log")); }
    CLeftDlg* list() { return dynamic_cast<CLeftDlg*>(dlg->panel_widget("user_list")); }
    QPushButton* button(int id) { return qobject_cast<QPushButton*>(get_dlg_item(dlg.get(), id)); }
    int SlotOf(uint32_t user) {
        for (int s = 0; s < list()->tiles_per_page(); ++s)
            if (list()->TileUser(s) == user)
                return s;
        return -1;
    }
    // A real click (the cursor moves there first) on a point of a user's tile.
    void ClickTile(uint32_t user, QPoint at, Qt::MouseButton b = Qt::LeftButton) {
        QWidget* tile = list()->tile(SlotOf(user));
        QCursor::setPos(tile->mapToGlobal(at));
        QTest::mouseClick(tile, b, {}, at);
        QApplication::processEvents();
    }
    QPoint CameraCorner(uint32_t user) {
        const QSize size = list()->tile(SlotOf(user))->size();
        const CSkinBitmap& cam = list()->icon(CLeftDlg::kCameraOn);
        return {size.width() - cam.width() / 2 - 1, size.height() - cam.height() / 2 - 1};
    }
    bool Key(int key, Qt::KeyboardModifiers m = {}) {
        QTest::keyClick(dlg.get(), Qt::Key(key), m);
        QApplication::processEvents();
        return true;
    }

    RoomServerProcess server{"velmor"};
    TempDir dir;
    std::string extra_settings; // appended to user.txt before Open
    std::unique_ptr<CtalvexDlg> dlg;
};

// The host (the first in a room without a directory) sees hands in the order they went up, grants from the
// list, sees a hand lowered, takes everybody's speech back, and removes a user.
TEST_F(ClassroomWindow, HostRunsTheHandsQueueAndRemovesAUser) {
    Open(201, 9);
    ASSERT_TRUE(dlg->session().roster().Self()->block.rights & pkt::kRightHost);
    RoomPeer a, b;
    ASSERT_TRUE(a.connect(server.port()));
    ASSERT_EQ(login_peer(a, 202, 9), 0);
    ASSERT_TRUE(b.connect(server.port()));
    ASSERT_EQ(login_peer(b, 203, 9), 0);
    ASSERT_TRUE(WaitFor([&] { return dlg->session().roster().size() == 3; }));

    // The host asks nobody: no speak request button, the list of hands in its place.
    EXPECT_FALSE(button(1079)->isVisible());
    ASSERT_TRUE(button(1085)->isVisible());

    // Tiles of generated nicknames show different numbers on different colours.
    ASSERT_TRUE(WaitFor([&] { return SlotOf(202) >= 0 && SlotOf(203) >= 0; }));
    const QImage t202 = list()->tile(SlotOf(202))->composer().image();
    const QImage t203 = list()->tile(SlotOf(203))->composer().image();
    EXPECT_NE(t202.pixelColor(2, 2), t203.pixelColor(2, 2)) << "colours from the ids";
    EXPECT_NE(t202, t203);
    EXPECT_TRUE(list()->tile(SlotOf(202))->accessibleDescription().contains(u("用户202")));

    // A user without a camera: the click on the camera corner says so.
    ClickTile(202, CameraCorner(202));
    EXPECT_TRUE(LogHas(u("用户202没有摄像头")));

    b.send(pkt::kSpeakRequest);
    ASSERT_TRUE(LogHas(u("用户203举手申请发言")));
    a.send(pkt::kSpeakRequest);
    ASSERT_TRUE(LogHas(u("用户202举手申请发言")));
    a.send(pkt::kSpeakRequest); // asked again while waiting: same place, no second notice
    QTest::qWait(300);
    EXPECT_EQ(Log().count(u("用户202举手申请发言")), 1);
    EXPECT_TRUE(button(1085)->toolTip().contains("2")) << button(1085)->toolTip().toStdString();
    EXPECT_TRUE(list()->tile(SlotOf(203))->accessibleDescription().contains(u("举手中")));

    QTest::mouseClick(button(1085), Qt::LeftButton);
    CHandQueueDlg* queue = dlg->hand_queue();
    ASSERT_TRUE(queue && queue->isVisible());
    ASSERT_EQ(queue->list()->topLevelItemCount(), 2);
    EXPECT_EQ(queue->list()->topLevelItem(0)->text(0), u("用户203")) << "arrival order";
    EXPECT_EQ(queue->list()->topLevelItem(1)->text(0), u("用户202"));
    EXPECT_FALSE(queue->list()->topLevelItem(0)->text(1).isEmpty()) << "since when";
    dlg->grab().save(shot_path("host_window.png"));
    queue->grab().save(shot_path("hand_queue.png"));

    // Grant the first hand from the list: the room gives 203 the right, the hand goes down.
    QTest::mouseClick(queue->grant_button(), Qt::LeftButton);
    auto granted = Await(b, pkt::kRightsChange);
    ASSERT_TRUE(granted);
    auto change = proto::RightsChange::decode(granted->payload.data(), granted->payload.size());
    EXPECT_EQ(change->user_id, 203u);
    EXPECT_EQ(change->operation, pkt::kRightsAdd);
    ASSERT_TRUE(WaitFor([&] { return queue->list()->topLevelItemCount() == 1; }));
    EXPECT_EQ(queue->list()->topLevelItem(0)->text(0), u("用户202"));

    // 202 lowers the own hand.
    a.send(pkt::kHandLowered);
    EXPECT_TRUE(LogHas(u("用户202已放下手")));
    EXPECT_TRUE(WaitFor([&] { return queue->list()->topLevelItemCount() == 0; }));

    // Everybody's speech back at once.
    QTest::mouseClick(queue->withdraw_all_button(), Qt::LeftButton);
    bool withdrawn = false;
    while (auto p = Await(b, pkt::kRightsChange, 3000)) {
        auto c = proto::RightsChange::decode(p->payload.data(), p->payload.size());
        if (c->user_id == 203 && c->operation == pkt::kRightsRemove) {
            withdrawn = true;
            break;
        }
    }
    EXPECT_TRUE(withdrawn);
    EXPECT_TRUE(LogHas(u("已收回1人的发言权")));

    // Removal from the tile's menu (right button): 202 is told why, gets the final result and is closed.
    list()->ask = [](const QString&, const QString&) { return true; };
    ClickTile(202, QPoint(20, 20), Qt::RightButton);
    ASSERT_TRUE(WaitFor([&] { return list()->tile_menu() != nullptr; }));
    list()->tile_menu()->grab().save(shot_path("tile_menu_host.png"));
    QAction* remove = list()->tile_menu()->findChild<QAction*>("menu_remove");
    ASSERT_TRUE(remove);
    remove->trigger();
    auto told = Await(a, pkt::kSystemText);
    ASSERT_TRUE(told);
    EXPECT_EQ(gbk_to_utf8(proto::SystemText::decode(told->payload.data(), told->payload.size())->text),
              "你已被发起人移出课堂");
    auto result = Await(a, pkt::kLoginResult);
    ASSERT_TRUE(result);
    EXPECT_EQ(proto::LoginResult::decode(result->payload.data(), result->payload.size())->result, 7u);
    EXPECT_TRUE(a.wait_closed(3000));
    EXPECT_TRUE(WaitFor([&] { return dlg->session().roster().FindById(202) == nullptr; }));
    EXPECT_TRUE(LogHas(u("已将用户202移出课堂")));
}

// A student raises the hand with the button, which then lowers it; a grant lowers it too.
TEST_F(ClassroomWindow, StudentRaisesAndLowersTheHand) {
    RoomPeer host;
    ASSERT_TRUE(host.connect(server.port()));
    ASSERT_EQ(login_peer(host, 301, 5), 0);
    Open(302, 5);
    // The room's users follow the login result: a hand raised before the host's record has arrived is
    // answered "the host is not here" (and nothing is sent), as it should be.
    ASSERT_TRUE(WaitFor([&] { return dlg->session().roster().HostOnline(); })) << "the host's record arrived";
    EXPECT_FALSE(button(1085)->isVisible()) << "no list of hands for a student";
    ASSERT_TRUE(button(1079)->isVisible());
    EXPECT_EQ(button(1079)->toolTip(), u("举手发言 (Alt+Y)"));
    const QImage raise_picture = button(1079)->grab().toImage();

    QTest::mouseClick(button(1079), Qt::LeftButton);
    auto asked = Await(host, pkt::kSpeakRequest);
    ASSERT_TRUE(asked);
    EXPECT_EQ(proto::SpeakRequest::decode(asked->payload.data(), asked->payload.size())->user_id, 302u);
    ASSERT_TRUE(WaitFor([&] { return button(1079)->toolTip() == u("放下手 (Alt+Y)"); }));
    EXPECT_NE(button(1079)->grab().toImage(), raise_picture) << "the button shows the lower state";
    EXPECT_TRUE(dlg->controller().OwnHandRaised());
    dlg->grab().save(shot_path("student_hand_up.png"));

    QTest::mouseClick(button(1079), Qt::LeftButton);
    auto lowered = Await(host, pkt::kHandLowered);
    ASSERT_TRUE(lowered);
    EXPECT_EQ(proto::UserRef::decode(lowered->payload.data(), lowered->payload.size())->user_id, 302u);
    EXPECT_EQ(button(1079)->toolTip(), u("举手发言 (Alt+Y)"));
    EXPECT_TRUE(LogHas(u("你已放下手")));

    // Again with the keyboard, and the host grants: the hand goes down by itself.
    Key(Qt::Key_Y, Qt::AltModifier);
    ASSERT_TRUE(Await(host, pkt::kSpeakRequest));
    ASSERT_TRUE(dlg->controller().OwnHandRaised());
    host.send(pkt::kSpeakControl, proto::SpeakControl{302, 1}.encode());
    EXPECT_TRUE(WaitFor([&] { return !dlg->controller().OwnHandRaised(); }));
    EXPECT_TRUE(WaitFor([&] { return button(1079)->toolTip() == u("举手发言 (Alt+Y)"); }));
}

// A removed user is told why and is not brought back.
TEST_F(ClassroomWindow, ARemovedUserIsNotReconnected) {
    RoomPeer host;
    ASSERT_TRUE(host.connect(server.port()));
    ASSERT_EQ(login_peer(host, 401, 6), 0);
    Open(402, 6);
    ASSERT_TRUE(Await(host, pkt::kUserEntered));
    host.send(pkt::kRemoveUser, proto::UserRef{402}.encode());
    ASSERT_TRUE(Await(host, pkt::kUserLeft));
    EXPECT_TRUE(WaitFor([&] { return dlg->service_link().ended(); }));
    EXPECT_TRUE(WaitFor([&] { return dlg->session().roster().Self() == nullptr; }));
    // Nothing comes back: no reconnect attempt, no new entry into the room.
    EXPECT_FALSE(Await(host, pkt::kUserEntered, 4000));
    EXPECT_FALSE(dlg->service_link().reconnecting());
    EXPECT_EQ(dlg->service_link().reconnect_attempts(), 0);
}

// A private line reads as private; the log's menu copies, saves as text and as a web page, and clears.
TEST_F(ClassroomWindow, PrivateLinesAndTheChatLogMenu) {
    RoomPeer host;
    ASSERT_TRUE(host.connect(server.port()));
    ASSERT_EQ(login_peer(host, 501, 4), 0);
    Open(502, 4);
    proto::ChatLine open_line;
    open_line.text = utf8_to_gbk("大家好");
    host.send(pkt::kChat, open_line.encode());
    proto::ChatLine whisper;
    whisper.target = 502;
    whisper.private_flag = 1;
    whisper.text = utf8_to_gbk("悄悄话");
    host.send(pkt::kChat, whisper.encode());
    ASSERT_TRUE(LogHas(u("悄悄话")));

    // The private header carries its label and its own colour; the public one neither.
    QColor private_colour, public_colour;
    for (QTextBlock b = log()->log()->document()->begin(); b.isValid(); b = b.next()) {
        if (b.text().contains(u("<用户501>对<你>说")))
            private_colour = b.begin().fragment().charFormat().foreground().color();
        if (b.text().contains(u("<用户501>对<大家>说")))
            public_colour = b.begin().fragment().charFormat().foreground().color();
    }
    EXPECT_TRUE(Log().contains(u("【私聊】")));
    EXPECT_EQ(Log().count(u("【私聊】")), 1);
    ASSERT_TRUE(private_colour.isValid() && public_colour.isValid());
    EXPECT_NE(private_colour, public_colour);
    log()->grab().save(shot_path("private_line.png"));

    // The menu opens on the log as a right click opens it; its save entries write the files.
    const std::string text_file = dir.file("log.txt"), html_file = dir.file("log.html");
    log()->choose_file = [&](bool html) { return QString::fromStdString(html ? html_file : text_file); };
    auto run_menu_entry = [&](const QString& entry) {
        bool found = false;
        QTimer::singleShot(200, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* a : menu->actions())
                    if (a->text() == entry) {
                        found = true;
                        a->trigger();
                    }
                menu->close();
            }
        });
        QWidget* viewport = log()->log()->viewport();
        QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(20, 20), viewport->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(viewport, &e);
        QApplication::processEvents();
        return found;
    };
    ASSERT_TRUE(run_menu_entry(u("保存为文本…")));
    const std::string saved = read_file(text_file);
    EXPECT_NE(saved.find("【私聊】"), std::string::npos);
    EXPECT_NE(saved.find("大家好"), std::string::npos);
    EXPECT_TRUE(LogHas(u("聊天记录已保存在")));
    ASSERT_TRUE(run_menu_entry(u("保存为网页…")));
    const std::string page = read_file(html_file);
    EXPECT_NE(page.find("<html"), std::string::npos);
    EXPECT_NE(page.find("悄悄话"), std::string::npos);

    log()->log()->selectAll();
    ASSERT_TRUE(run_menu_entry(QString::fromUtf8("复制(&C)\tCtrl+C ")));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(u("悄悄话")));
    ASSERT_TRUE(run_menu_entry(QString::fromUtf8("清除(&L) ")));
    EXPECT_FALSE(Log().contains(u("悄悄话")));
}

// The keyboard: the list of shortcuts on `?`, full screen of a picture, and leaving only after a yes.
TEST_F(ClassroomWindow, KeyboardShortcutsAndLeaving) {
    Open(601, 3); // the host, alone
    Key(Qt::Key_Question, Qt::ShiftModifier);
    QDialog* list_dialog = dlg->findChild<QDialog*>("shortcut_list");
    ASSERT_TRUE(list_dialog && list_dialog->isVisible());
    QStringList texts;
    for (QLabel* l : list_dialog->findChildren<QLabel*>())
        texts << l->text();
    for (const char* key : {"Alt+A", "Alt+V", "Alt+Y", "F11", "Alt+Q"})
        EXPECT_TRUE(texts.contains(QString::fromLatin1(key))) << key;
    list_dialog->grab().save(shot_path("shortcuts.png"));
    list_dialog->close();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get(), 3000));

    // `?` typed into the chat input is a character, not the list.
    auto* chat = dynamic_cast<CChatDlg*>(dlg->panel_widget("chat_input"));
    ASSERT_TRUE(chat);
    chat->input()->setFocus();
    QTest::keyClick(chat->input(), '?');
    EXPECT_EQ(chat->input()->toPlainText(), "?");
    EXPECT_FALSE(list_dialog->isVisible());
    chat->input()->clear();
    // Microphone by key: the host may speak, so it goes on and off.
    const bool before = dlg->session().microphone_on();
    Key(Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(WaitFor([&] { return dlg->session().microphone_on() != before; }));

    // Nothing to show: F11 says so.
    Key(Qt::Key_F11);
    EXPECT_TRUE(LogHas(u("没有可以全屏显示的画面")));

    // Leaving asks while the class is on; No keeps the window.
    int asked = 0;
    dlg->ask_leave = [&](const QString& text, const QString&) {
        ++asked;
        EXPECT_EQ(text, u("课堂正在进行，确定要离开吗？"));
        return false;
    };
    Key(Qt::Key_Q, Qt::AltModifier);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(dlg->isVisible());
    QTest::mouseClick(button(1069), Qt::LeftButton);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(dlg->isVisible());
    dlg->ask_leave = [&](const QString&, const QString&) { return ++asked, true; };
    QTest::mouseClick(button(1069), Qt::LeftButton);
    EXPECT_EQ(asked, 3);
    EXPECT_FALSE(dlg->isVisible());
}

// Devices plugged in and out during a class (the machine's lists stand in for hardware, which this machine
// has none of): the new ones are said, the one in use that went away is replaced by the default device, a
// device that only moved in the list stays chosen, and an open setup dialog shows the new lists.
TEST_F(ClassroomWindow, DevicesPluggedInAndOutDuringAClass) {
    Open(801, 2);
    DeviceLists lists;
    lists.recording = {{"hw:CARD=Headset", "USB Headset"}, {"hw:CARD=PCH", "Built-in Audio"}};
    lists.playback = lists.recording;
    lists.cameras = {"Test camera"};
    dlg->enumerate_devices = [&] { return lists; };
    dlg->PollDevices();
    dlg->session().SaveDeviceSetting(kRecordingDevice, 0); // the headset's microphone
    dlg->session().SaveDeviceSetting(kPlaybackDevice, 1);  // the built-in speakers
    ASSERT_TRUE(WaitFor([&] { return dlg->session().microphone_on(); })) << "the host speaks";
    log()->log()->clear(); // what the first look at the stand-in lists said

    // The headset goes, a camera comes.
    lists.recording.erase(lists.recording.begin());
    lists.playback.erase(lists.playback.begin());
    lists.cameras.push_back("USB Camera");
    dlg->PollDevices();
    EXPECT_TRUE(LogHas(u("设备已拔出：USB Headset")));
    EXPECT_TRUE(LogHas(u("发现新设备：USB Camera")));
    EXPECT_TRUE(LogHas(u("正在使用的录音设备已拔出，已改用默认设备")));
    EXPECT_EQ(dlg->settings().record_deviceid, -1);
    EXPECT_TRUE(dlg->session().microphone_on()) << "the microphone goes on again, on the default device";
    EXPECT_EQ(dlg->settings().play_deviceid, 0) << "the speakers moved up the list and stay chosen";
    EXPECT_FALSE(Log().contains(u("正在使用的播放设备已拔出")));
    EXPECT_NE(read_file(dir.file("user.txt")).find("record_deviceid=-1"), std::string::npos);

    // With the audio setup open, a microphone is plugged in: the list shows it at once.
    bool shown = false;
    QTimer::singleShot(300, [&] {
        lists.recording.push_back({"hw:CARD=Mic", "USB Microphone"});
        dlg->PollDevices();
        if (CAudioSetup* audio = dlg->device_dialogs().open_audio()) {
            shown = audio->recording_list()->findText(u("USB Microphone")) >= 0;
            audio->grab().save(shot_path("audio_setup_new_device.png"));
            audio->reject();
        }
    });
    dlg->OnCommand(1083);
    EXPECT_TRUE(shown);
}

namespace {

// pactl against the tests' own sound server; its standard output, or nothing when it failed.
std::optional<QString> pactl(const QStringList& args) {
    QProcess p;
    p.start("pactl", args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The names of the sources that the process `pid` records from now (pactl's source outputs).
QStringList sources_recorded_by(pid_t pid) {
    QStringList names;
    const auto sources = pactl({"list", "sources", "short"});
    const auto outputs = pactl({"list", "source-outputs"});
    if (!sources || !outputs)
        return names;
    std::map<QString, QString> by_index;
    for (const QString& line : sources->split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split('\t');
        if (f.size() > 1)
            by_index[f[0]] = f[1];
    }
    // One block per source output: "Source: N" and, among its properties, application.process.id = "PID".
    for (const QString& block : outputs->split("Source Output #", Qt::SkipEmptyParts)) {
        const QRegularExpression source("\\n\\s*Source: (\\d+)");
        const auto m = source.match(block);
        if (m.hasMatch() && block.contains(QString("application.process.id = \"%1\"").arg(pid)))
            names << by_index[m.captured(1)];
    }
    return names;
}

// The window's own service: the velmor that this process started as a local service.
pid_t own_service() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, comm, state;
        pid_t parent = 0;
        if (!(stat >> pid >> comm >> state >> parent) || comm != "(velmor)" || parent != getpid())
            continue;
        // Not the room server, which the test started too.
        std::ifstream command_line(entry.path() / "cmdline");
        const std::string args((std::istreambuf_iterator<char>(command_line)),
                               std::istreambuf_iterator<char>());
        if (args.find("--room-server") == std::string::npos)
            return pid_t(std::stol(pid));
    }
    return 0;
}

} // namespace

// The same with the sound server's own devices, plugged in and out while the class runs (a headset is a new
// source of the sound server, as a USB headset would be): the window's regular look at the devices finds it,
// the setup lists it, the service records from it once chosen, and when it goes the microphone goes on again
// on the default device.
TEST_F(ClassroomWindow, ASoundServerHeadsetPluggedInAndOut) {
    Open(811, 3);
    ASSERT_TRUE(WaitFor([&] { return dlg->session().microphone_on(); })) << "the host speaks";
    ASSERT_TRUE(WaitFor([&] { return dlg->controller().DevicesKnown(); })) << "the first look at the devices";
    const pid_t service = own_service();
    ASSERT_GT(service, 0);
    const QString name = QString("quorin_headset_%1").arg(getpid());
    const QString label = QString("Headset-%1").arg(getpid());
    // A source of its own over the null output's monitor (the null source takes no description).
    const auto module = pactl({"load-module", "module-remap-source", "master=quorin_null.monitor",
                               "source_name=" + name, "source_properties=device.description=" + label});
    ASSERT_TRUE(module) << "the test sound server takes a new source";
    struct Unload {
        QString id;
        ~Unload() {
            if (!id.isEmpty())
                pactl({"unload-module", id});
        }
    } unload{module->trimmed()};

    EXPECT_TRUE(WaitFor([&] { return Log().contains(u("发现新设备：") + label); }, 15000))
        << "found by the regular look, without a restart";

    // Chosen in the audio setup, as a person does: the service records from it.
    bool chosen = false;
    QTimer::singleShot(300, [&] {
        if (CAudioSetup* audio = dlg->device_dialogs().open_audio()) {
            const int at = audio->recording_list()->findText(label);
            chosen = at >= 0;
            audio->recording_list()->setCurrentIndex(at);
            audio->accept();
        }
    });
    dlg->OnCommand(1083);
    ASSERT_TRUE(chosen) << "the setup lists the headset";
    EXPECT_GE(dlg->settings().record_deviceid, 0);
    EXPECT_TRUE(WaitFor([&] { return sources_recorded_by(service).contains(name); }, 15000))
        << "the service records from the headset: " << sources_recorded_by(service).join(',').toStdString();

    // Unplugged: said, the setting falls back to the default device and the microphone is open there.
    ASSERT_TRUE(pactl({"unload-module", unload.id}));
    unload.id.clear();
    EXPECT_TRUE(WaitFor([&] { return Log().contains(u("设备已拔出：") + label); }, 15000));
    EXPECT_TRUE(LogHas(u("正在使用的录音设备已拔出，已改用默认设备")));
    EXPECT_EQ(dlg->settings().record_deviceid, -1);
    EXPECT_TRUE(WaitFor(
        [&] {
            const QStringList now = sources_recorded_by(service);
            return dlg->session().microphone_on() && !now.isEmpty() && !now.contains(name);
        },
        15000))
        << "recording again, from the default device: "
        << sources_recorded_by(service).join(',').toStdString();
}

// Every control a person can use has a name for a screen reader and a tool tip; the painted tiles say who is
// there, who speaks and whose hand is up; sliders say their value.
TEST_F(ClassroomWindow, EveryControlHasANameAndATip) {
    RoomPeer pupil;
    Open(1001, 12);
    ASSERT_TRUE(pupil.connect(server.port()));
    ASSERT_EQ(login_peer(pupil, 1002, 12), 0);
    pupil.send(pkt::kSpeakRequest);
    ASSERT_TRUE(WaitFor([&] { return SlotOf(1002) >= 0 && !dlg->session().roster().hands().empty(); }));
    QStringList missing;
    for (QWidget* w : dlg->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->width() < 4)
            continue;
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QTextEdit*>(w) || w->inherits("CBitmapSlider") ||
                             w->focusPolicy() != Qt::NoFocus;
        // Scroll bars and the inside of scroll areas belong to their box.
        const bool part =
            qobject_cast<QScrollBar*>(w) || (w->inherits("QAbstractScrollArea") && !w->inherits("QTextEdit"));
        if (!control || part)
            continue;
        const QString name =
            w->accessibleName().isEmpty() ? w->property("text").toString() : w->accessibleName();
        if (name.isEmpty() || w->toolTip().isEmpty())
            missing << QString("%1 %2 (name '%3', tip '%4')")
                           .arg(w->metaObject()->className(), w->objectName(), name, w->toolTip());
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.join("\n").toStdString();

    QWidget* tile = list()->tile(SlotOf(1002));
    EXPECT_EQ(tile->accessibleName(), u("用户1002"));
    EXPECT_TRUE(tile->accessibleDescription().contains(u("学员")));
    EXPECT_TRUE(tile->accessibleDescription().contains(u("麦克风关")));
    EXPECT_TRUE(tile->accessibleDescription().contains(u("举手中")));
    EXPECT_TRUE(list()->tile(SlotOf(1001))->accessibleDescription().contains(u("发起人")));
    QWidget* mic_slider = get_dlg_item(dlg->panel_widget("status_bar"), 1035);
    ASSERT_TRUE(mic_slider);
    EXPECT_TRUE(mic_slider->toolTip().startsWith(u("麦克风音量: "))) << mic_slider->toolTip().toStdString();
    EXPECT_TRUE(mic_slider->toolTip().endsWith("%"));
}

namespace {
// Stands in for the desktop's file opener: records what a click on a link asks it to open.
class Opener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};
} // namespace

// A snapshot of the own picture is a PNG in the pictures folder; its notice carries a link that opens it.
TEST_F(ClassroomWindow, SnapshotsArePngFilesWithALinkThatOpensThem) {
    TempDir home;
    const QByteArray old_home = qgetenv("HOME");
    qputenv("HOME", home.path().string().c_str());
    extra_settings = "[media]\ntest_camera=1\n";
    Open(901, 11);
    auto* media = dynamic_cast<CMediaDlg*>(dlg->panel_widget("media_panel"));
    ASSERT_TRUE(media);
    ASSERT_TRUE(WaitFor([&] { return media->camera_open(); })) << "the test camera starts with the class";
    media->on_video_event(3, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !media->last_snapshot().isEmpty(); }));
    const QString path = media->last_snapshot();
    EXPECT_TRUE(path.startsWith(QString::fromStdString((home.path() / "Pictures").string())))
        << path.toStdString();
    EXPECT_TRUE(path.endsWith(".png"));
    EXPECT_EQ(QImage(path).size(), QSize(320, 240));

    // The notice: the path is a link; a click on it asks the desktop to open the file.
    ASSERT_TRUE(LogHas(path));
    Opener opener;
    QDesktopServices::setUrlHandler("file", &opener, "open");
    QTextCursor c(log()->log()->document());
    ASSERT_TRUE(!(c = log()->log()->document()->find(path)).isNull());
    EXPECT_EQ(c.charFormat().anchorHref(), QUrl::fromLocalFile(path).toString());
    QTextCursor middle(c);
    middle.setPosition((c.selectionStart() + c.selectionEnd()) / 2);
    log()->log()->setTextCursor(middle);
    log()->log()->ensureCursorVisible();
    const QPoint at = log()->log()->cursorRect(middle).center();
    EXPECT_EQ(log()->log()->anchorAt(at), QUrl::fromLocalFile(path).toString()) << at.x() << "," << at.y();
    QTest::mouseClick(log()->log()->viewport(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(WaitFor([&] { return !opener.opened.isEmpty(); }, 3000));
    if (!opener.opened.isEmpty()) {
        EXPECT_EQ(opener.opened.first().toLocalFile(), path);
    }
    QDesktopServices::unsetUrlHandler("file");
    log()->grab().save(shot_path("snapshot_notice.png"));
    dlg.reset();
    qputenv("HOME", old_home);
}

#include "classroom_e2e_test.moc"
