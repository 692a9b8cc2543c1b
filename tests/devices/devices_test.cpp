// The device setup dialogs: their lists and the ids they return, new devices while one is open, and the
// main window's way of running them.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTest>
#include <QTimer>

#include "components/audio_devices.h"
#include "devices/CAudioSetup.h"
#include "devices/CVideoSetup.h"
#include "devices/DeviceDialogs.h"
#include "video/capture.h"

TEST(AudioSetup, ListsAndIds) {
    const std::vector<AudioDevice> in = {{"hw:0", "Built-in"}, {"usb", "USB Mic"}},
                                   out = {{"hw:0", "Speakers"}};
    const struct {
        int given;
        int selected;
        int returned;
    } rows[] = {{-1, 0, -1}, {-7, 0, -1}, {0, 1, 0}, {1, 2, 1}, {5, -1, 5}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.given);
        CAudioSetup dialog(in, out, nullptr);
        dialog.set_ids(row.given, -1);
        EXPECT_EQ(dialog.recording_list()->currentIndex(), row.selected);
        EXPECT_EQ(dialog.recording_list()->itemText(0), QString::fromUtf8("默认设备"));
        dialog.accept();
        EXPECT_EQ(dialog.record_id(), row.returned) << "an id past the list is kept";
    }
    CAudioSetup dialog(in, out, nullptr);
    dialog.set_ids(1, 0);
    dialog.recording_list()->setCurrentIndex(0);
    dialog.accept();
    EXPECT_EQ(dialog.record_id(), -1) << "choosing the default device";
    EXPECT_EQ(dialog.play_id(), 0);

    for (bool capture : {true, false})
        for (const AudioDevice& d : list_audio_devices(capture)) {
            EXPECT_NE(d.name, "null");
            EXPECT_NE(d.name, "default");
            EXPECT_FALSE(d.description.empty());
        }
}

TEST(AudioSetup, NewDevicesKeepTheChosenOneWhileItIsThere) {
    const std::vector<AudioDevice> in = {{"hw:0", "Built-in"}, {"usb", "USB Mic"}},
                                   out = {{"hw:0", "Speakers"}};
    CAudioSetup dialog(in, out, nullptr);
    dialog.set_ids(1, 0);
    // The USB microphone moves down the list: it stays chosen; the speakers go away: the default device.
    dialog.SetDevices({{"hdmi", "HDMI"}, {"hw:0", "Built-in"}, {"usb", "USB Mic"}}, {{"hdmi", "HDMI"}});
    ASSERT_EQ(dialog.recording_list()->count(), 4);
    EXPECT_EQ(dialog.recording_list()->currentIndex(), 3);
    EXPECT_EQ(dialog.playback_list()->currentIndex(), 0);
    dialog.accept();
    EXPECT_EQ(dialog.record_id(), 2) << "the id is the new position";
    EXPECT_EQ(dialog.play_id(), -1);
}

TEST(VideoSetup, IndexNamesAndEnter) {
    CVideoSetup dialog({"cam A", "cam B"}, nullptr);
    EXPECT_EQ(dialog.list()->currentIndex(), -1) << "nothing chosen before set_index";
    for (int bad : {-1, 2, 9}) {
        dialog.set_index(bad);
        EXPECT_EQ(dialog.list()->currentIndex(), -1) << bad;
    }
    dialog.set_index(1);
    dialog.SetNames({"cam C", "cam B"});
    EXPECT_EQ(dialog.list()->currentText(), "cam B") << "the chosen camera stays chosen";
    dialog.SetNames({"cam C"});
    EXPECT_EQ(dialog.list()->currentIndex(), -1) << "gone: nothing chosen";
    dialog.accept();
    EXPECT_EQ(dialog.index(), 1) << "OK with nothing chosen keeps the id";

    CVideoSetup shown({"cam A"}, nullptr);
    shown.set_index(0);
    shown.show();
    QTest::keyClick(&shown, Qt::Key_Return);
    EXPECT_TRUE(shown.isVisible()) << "Enter does not press OK";
    EXPECT_EQ(shown.result(), 0);
}

// The main window's runner: the dialog is reachable while it is open, follows the devices and returns the
// choice on OK (nothing on Cancel).
TEST(DeviceDialogs, OpenDialogsFollowTheDevicesAndReturnTheChoice) {
    const bool test_camera = true;
    DeviceDialogs dialogs(nullptr, &test_camera);
    const std::vector<capture::CameraInfo> cameras = capture::list_cameras(true);
    ASSERT_FALSE(cameras.empty()) << "the test camera";
    dialogs.DevicesChanged(DeviceDialogs::CurrentDevices(true)); // the main window's scan
    const std::string last = cameras.back().name;
    QTimer::singleShot(0, [&] {
        CVideoSetup* open = dialogs.open_video();
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->list()->currentText(), QString::fromStdString(last));
        DeviceLists lists;
        lists.cameras = {"new camera", last};
        dialogs.DevicesChanged(lists);
        EXPECT_EQ(open->list()->currentIndex(), 1);
        open->accept();
    });
    int camera = int(cameras.size()) - 1;
    EXPECT_TRUE(dialogs.RunVideoSetup(camera));
    EXPECT_EQ(camera, 1);
    EXPECT_EQ(dialogs.open_video(), nullptr);

    QTimer::singleShot(0, [&] {
        CAudioSetup* open = dialogs.open_audio();
        ASSERT_NE(open, nullptr);
        DeviceLists lists;
        lists.recording = {{"a", "A"}, {"b", "B"}};
        lists.playback = {{"c", "C"}};
        dialogs.DevicesChanged(lists);
        EXPECT_EQ(open->recording_list()->count(), 3);
        open->recording_list()->setCurrentIndex(2);
        open->reject();
    });
    int record = -1, play = -1;
    EXPECT_FALSE(dialogs.RunAudioSetup(record, play));
    EXPECT_EQ(record, -1) << "Cancel changes nothing";
    EXPECT_EQ(dialogs.open_audio(), nullptr);

    const DeviceLists now = DeviceDialogs::CurrentDevices(true);
    EXPECT_EQ(now.cameras.size(), cameras.size());
    EXPECT_EQ(now.cameras.back(), last);
}

// The dialogs list what the main window's scan (off the UI thread) found, never reading the devices
// themselves on opening; each opening asks for a new scan. Opened before the first scan, the configured
// devices are selected once the lists come.
TEST(DeviceDialogs, DialogsListTheLastScanAndSelectTheConfiguredDevicesWhenItComes) {
    const bool test_camera = true;
    DeviceDialogs dialogs(nullptr, &test_camera);
    int scans = 0;
    dialogs.rescan = [&] { ++scans; };
    DeviceLists scanned;
    scanned.recording = {{"pulse:mic_a", "Mic A"}, {"pulse:mic_b", "Mic B"}};
    scanned.playback = {{"pulse:out_a", "Out A"}};
    scanned.cameras = {"Cam A", "Cam B", "Cam C"};

    // Before any scan: empty lists with nothing selected for a configured device, filled when the scan
    // comes.
    QTimer::singleShot(0, [&] {
        CAudioSetup* open = dialogs.open_audio();
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->recording_list()->count(), 1) << "only the default device before the scan";
        EXPECT_EQ(open->recording_list()->currentIndex(), -1);
        EXPECT_EQ(open->playback_list()->currentIndex(), 0) << "the default device";
        dialogs.DevicesChanged(scanned);
        EXPECT_EQ(open->recording_list()->count(), 3);
        EXPECT_EQ(open->recording_list()->currentText(), "Mic B");
        EXPECT_EQ(open->playback_list()->currentIndex(), 0);
        open->accept();
    });
    int record = 1, play = -1;
    ASSERT_TRUE(dialogs.RunAudioSetup(record, play));
    EXPECT_EQ(record, 1);
    EXPECT_EQ(play, -1);
    EXPECT_EQ(scans, 1) << "opening asks for a new scan";

    // Afterwards the dialogs open with the last scan's lists, not the machine's.
    QTimer::singleShot(0, [&] {
        CAudioSetup* open = dialogs.open_audio();
        ASSERT_NE(open, nullptr);
        ASSERT_EQ(open->recording_list()->count(), 3);
        EXPECT_EQ(open->recording_list()->itemText(1), "Mic A");
        EXPECT_EQ(open->playback_list()->count(), 2);
        EXPECT_EQ(open->playback_list()->itemText(1), "Out A");
        open->reject();
    });
    EXPECT_FALSE(dialogs.RunAudioSetup(record, play));

    DeviceDialogs fresh(nullptr, &test_camera);
    QTimer::singleShot(0, [&] {
        CVideoSetup* open = fresh.open_video();
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->list()->count(), 0);
        fresh.DevicesChanged(scanned);
        EXPECT_EQ(open->list()->currentText(), "Cam C");
        open->accept();
    });
    int camera = 2;
    ASSERT_TRUE(fresh.RunVideoSetup(camera));
    EXPECT_EQ(camera, 2);
    QTimer::singleShot(0, [&] {
        CVideoSetup* open = fresh.open_video();
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->list()->count(), 3) << "the scan's cameras, not the machine's";
        open->reject();
    });
    EXPECT_FALSE(fresh.RunVideoSetup(camera));
}

// Minimising a modal setup dialog (a window manager may offer it on any dialog, and then minimises the class
// window with it) is undone: both come back, the dialog still open above its window and still answering,
// and a maximised class window comes back maximised. A dialog that is not modal may be minimised.
TEST(DeviceDialogs, MinimisingAnOpenDialogBringsItAndItsWindowBack) {
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    const bool test_camera = true;
    DeviceDialogs dialogs(&owner, &test_camera);
    // What the window manager does: the dialog and the window it belongs to go away together.
    auto minimise_both = [&](QDialog* open) {
        owner.setWindowState(owner.windowState() | Qt::WindowMinimized);
        open->setWindowState(open->windowState() | Qt::WindowMinimized);
    };
    bool checked = false;
    QTimer::singleShot(0, [&] {
        CAudioSetup* open = dialogs.open_audio();
        ASSERT_NE(open, nullptr);
        minimise_both(open);
        QTimer::singleShot(0, [&, open] {
            EXPECT_FALSE(open->isMinimized());
            EXPECT_TRUE(open->isVisible());
            EXPECT_FALSE(owner.isMinimized());
            checked = true;
            open->accept();
        });
    });
    int record = -1, play = -1;
    EXPECT_TRUE(dialogs.RunAudioSetup(record, play)) << "the dialog still answers";
    EXPECT_TRUE(checked);

    owner.showMaximized();
    checked = false;
    QTimer::singleShot(0, [&] {
        CVideoSetup* open = dialogs.open_video();
        ASSERT_NE(open, nullptr);
        minimise_both(open);
        QTimer::singleShot(0, [&, open] {
            EXPECT_FALSE(open->isMinimized());
            EXPECT_TRUE(owner.windowState() == Qt::WindowMaximized) << "back as it was";
            checked = true;
            open->reject();
        });
    });
    int camera = -1;
    EXPECT_FALSE(dialogs.RunVideoSetup(camera));
    EXPECT_TRUE(checked);

    owner.showNormal();
    CAudioSetup modeless({}, {}, &owner);
    modeless.show();
    modeless.setWindowState(Qt::WindowMinimized);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(modeless.isMinimized()) << "only a modal dialog is brought back";
}
