// The mixer against the test environment's sound server (a null sink and source behind ALSA's default
// device), the status bar's buttons and sliders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QProcess>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "components/CMixer.h"
#include "components/audio_devices.h"
#include "config/client_config.h"
#include "eventually.h"
#include "platform/controls.h"
#include "platform/message_ids.h"
#include "platform/qtext.h"
#include "platform/text.h"
#include "roster/CStatusDlg.h"
#include "session_doubles.h"
#include "skin/CBitmapSlider.h"
#include "skin/ClxStatic.h"
#include "wire/packet_types.h"

namespace {

std::string amixer(const QStringList& args) {
    QProcess p;
    p.start("amixer", QStringList{"-D", "default"} + args);
    p.waitForFinished(5000);
    return p.readAllStandardOutput().toStdString();
}

struct Link : call_back {
    int record_device = -1, play_device = -1;
    bool connected = false;
    bool mic_on = false;
    std::vector<std::pair<uint16_t, proto::Bytes>> sent;
    std::vector<std::string> notices;
    int request(int type, void* data, int) override {
        switch (type) {
        case kReqConnected:
            return connected;
        case kReqMicrophoneOn:
            return mic_on;
        case kReqToggleMicrophone:
            mic_on = !mic_on;
            return 1;
        case kReqNoticeLine:
            notices.push_back(gbk_to_utf8(static_cast<const char*>(data)));
            return 1;
        case kReqDeviceSetting: {
            auto* r = static_cast<DeviceSettingRequest*>(data);
            r->value = r->device == kRecordingDevice  ? record_device
                       : r->device == kPlaybackDevice ? play_device
                                                      : -1;
            return 1;
        }
        default:
            return 1;
        }
    }
    bool Send(uint16_t type, const proto::Bytes& payload) override {
        sent.push_back({type, payload});
        return true;
    }
    uint32_t last_volume() const {
        return proto::OutputVolume::decode(sent.back().second.data(), sent.back().second.size())->volume;
    }
};

void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

} // namespace

TEST(Mixer, FollowsAndDrivesTheSoundServer) {
    CMixer mixer;
    if (!mixer.available())
        GTEST_SKIP() << "no sound server (run through scripts/with-test-env)";
    for (int device : {int(CMixer::kOutput), int(CMixer::kRecording)}) {
        SCOPED_TRACE(device);
        const char* control = device == CMixer::kOutput ? "Master" : "Capture";
        // The sound server passes a change on to the other side in its own time (longer on a loaded machine).
        ASSERT_TRUE(mixer.SetVolume(device, 37));
        EXPECT_TRUE(eventually([&] {
            return amixer({"sget", control}).find("[37%]") != std::string::npos;
        })) << amixer({"sget", control});
        amixer({"sset", control, "55%"});
        EXPECT_TRUE(eventually([&] { return mixer.GetVolume(device) == 55; }))
            << "a change made outside shows: " << mixer.GetVolume(device);
        ASSERT_TRUE(mixer.SetMute(device, true));
        EXPECT_TRUE(mixer.GetMute(device));
        ASSERT_TRUE(mixer.SetMute(device, false));
        EXPECT_FALSE(mixer.GetMute(device));
    }
    EXPECT_TRUE(mixer.SetVolume(CMixer::kOutput, 250)) << "clamped";
    EXPECT_EQ(mixer.GetVolume(CMixer::kOutput), 100);
    CMixer none("no-such-card");
    EXPECT_FALSE(none.available());
    EXPECT_EQ(none.GetVolume(CMixer::kOutput), 0);
    EXPECT_FALSE(none.GetMute(CMixer::kOutput));
    EXPECT_FALSE(none.SetVolume(CMixer::kOutput, 10));
}

// Each mixer handle is a connection to the sound server (or an open card): the capture and the playback side
// of the default devices share one.
TEST(Mixer, OpensTheDefaultDeviceOnceForBothSides) {
    // This process's connections only: other tests' processes use the same sound server meanwhile.
    auto clients = [] {
        QProcess p;
        p.start("pactl", {"list", "clients"});
        p.waitForFinished(5000);
        const QByteArray mine = "application.process.id = \"" + QByteArray::number(qint64(getpid())) + "\"";
        return p.exitCode() == 0 ? int(p.readAllStandardOutput().count(mine)) : -1;
    };
    const int before = clients();
    if (before < 0)
        GTEST_SKIP() << "no sound server (run through scripts/with-test-env)";
    {
        CMixer mixer;
        ASSERT_TRUE(mixer.available());
        EXPECT_EQ(clients() - before, 1) << "connections to the sound server for one mixer";
        // Both sides work through it, and choosing the default devices again opens nothing.
        mixer.SetInputIndex(-1);
        mixer.SetOutputIndex(-1);
        EXPECT_EQ(clients() - before, 1);
        ASSERT_TRUE(mixer.SetVolume(CMixer::kRecording, 41));
        ASSERT_TRUE(mixer.SetVolume(CMixer::kOutput, 63));
        EXPECT_TRUE(eventually([&] { return mixer.GetVolume(CMixer::kRecording) == 41; }));
        EXPECT_TRUE(eventually([&] { return mixer.GetVolume(CMixer::kOutput) == 63; }));
    }
    EXPECT_TRUE(eventually([&] { return clients() == before; })) << "the mixer's connection closes with it";
}

// The position of an ALSA device in the capture or playback list (-1 when it is not there).
// The position of the first device whose name starts with `name`.
int position_of(const std::string& name, bool capture) {
    const auto devices = list_audio_devices(capture);
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name.rfind(name, 0) == 0)
            return int(i);
    return -1;
}

TEST(Mixer, AddressesTheChosenDevicesCardAndNeverMutesAnOutput) {
    const struct {
        const char* pcm;
        const char* control;
    } rows[] = {{"sysdefault:CARD=PCH", "hw:PCH"},
                {"front:CARD=Intel,DEV=0", "hw:Intel"},
                {"hw:1,0", "hw:1"},
                {"plughw:CARD=USB,DEV=0", "hw:USB"},
                {"plughw:2,0", "hw:2"},
                {"pulse", "pulse"},
                {"pulse:quorin_mic", "pulse"},
                {"lavrate", ""},
                {"upmix", ""}};
    for (const auto& r : rows)
        EXPECT_EQ(mixer_control_for(r.pcm), r.control) << r.pcm;

    CMixer mixer;
    if (!mixer.available())
        GTEST_SKIP() << "no sound server (run through scripts/with-test-env)";
    const int pulse_in = position_of(kPulseDevicePrefix, true),
              pulse_out = position_of(kPulseDevicePrefix, false);
    const int rate_converter = position_of("lavrate", true);
    ASSERT_GE(pulse_in, 0);
    ASSERT_GE(pulse_out, 0);
    mixer.SetInputIndex(pulse_in);
    EXPECT_EQ(mixer.capture_control(), "pulse");
    mixer.SetOutputIndex(pulse_out);
    EXPECT_EQ(mixer.playback_control(), "pulse");
    ASSERT_TRUE(mixer.SetVolume(CMixer::kOutput, 41)) << "through the chosen device's mixer";
    EXPECT_NE(amixer({"sget", "Master"}).find("[41%]"), std::string::npos);
    if (rate_converter >= 0) {
        mixer.SetInputIndex(rate_converter);
        EXPECT_EQ(mixer.capture_control(), "default") << "a plug-in without a mixer: the default card";
    }
    mixer.SetInputIndex(99);
    EXPECT_EQ(mixer.capture_control(), "default");
    mixer.SetInputIndex(-1);
    EXPECT_EQ(mixer.capture_control(), "default");

    // Media start mutes the line input; no output goes quiet with it.
    ASSERT_TRUE(mixer.SetMute(CMixer::kOutput, false));
    mixer.SetMute(CMixer::kLine, true);
    EXPECT_FALSE(mixer.GetMute(CMixer::kOutput));
    EXPECT_NE(amixer({"sget", "Master"}).find("[on]"), std::string::npos);

    // The status bar's sliders follow the devices of the settings.
    Link link;
    link.record_device = pulse_in;
    link.play_device = pulse_out;
    RecordingActions actions(&link);
    CStatusDlg status(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    EXPECT_EQ(status.mixer().capture_control(), "pulse");
    EXPECT_EQ(status.mixer().playback_control(), "pulse");
    status.SetPlaybackDevice(-1);
    EXPECT_EQ(status.mixer().playback_control(), "default");
}

TEST(StatusBar, ButtonsSlidersAndMessages) {
    Link link;
    RecordingActions actions(&link);
    CStatusDlg status(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    status.resize(408, 60);
    status.show();
    EXPECT_TRUE(status.microphone_muted());
    EXPECT_EQ(get_dlg_item(&status, CStatusDlg::kMicButton)->toolTip(), QString::fromUtf8("麦克风已静音"));

    platform::post_message(&status, msg::kOutputVolume, 150, 0);
    settle();
    EXPECT_EQ(status.output_slider()->GetPosition(), 100);

    // Connected: the output goes through the service.
    link.connected = true;
    platform::post_message(&status, msg::kOutputVolume, 64, 0);
    settle();
    status.ToggleOutput();
    EXPECT_TRUE(status.IsOutputMuted());
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].first, pkt::kOutputVolume);
    EXPECT_EQ(link.last_volume(), 0u);
    status.SetOutputVolume(30);
    EXPECT_EQ(link.sent.size(), 1u) << "nothing while the output is muted";
    status.ToggleOutput();
    EXPECT_EQ(link.last_volume(), 64u) << "unmuting sends the slider's position";
    EXPECT_EQ(link.notices, (std::vector<std::string>{"声音输出禁止", "声音输出开启"}));
    status.ToggleMicrophone();
    EXPECT_TRUE(link.mic_on);
    EXPECT_EQ(get_dlg_item(&status, CStatusDlg::kMicButton)->toolTip(), QString::fromUtf8("静音"));

    status.SetUserCount(3);
    status.ShowUserCount();
    status.ShowHost(utf8_to_gbk("王老师"));
    EXPECT_EQ(status.count_label()->text(), QString::fromUtf8("房间人数：3人"));
    EXPECT_EQ(status.host_label()->text(), QString::fromUtf8("发起人：王老师"));

    // A long link state is cut before the volume buttons, and its whole text is the tool tip.
    const std::string long_state = utf8_to_gbk("连接已断开，16秒后重新连接（第12次）");
    status.ShowLinkState(long_state);
    const QWidget* mic_button = get_dlg_item(&status, CStatusDlg::kMicButton);
    EXPECT_LT(status.link_label()->geometry().right(), mic_button->x()) << "not under the volume icons";
    EXPECT_TRUE(status.link_label()->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(status.link_label()->toolTip(), gbk_to_qstring(long_state));
    status.resize(700, 60);
    settle();
    EXPECT_EQ(status.link_label()->text(), gbk_to_qstring(long_state)) << "whole where it fits";
    EXPECT_LT(status.link_label()->geometry().right(), mic_button->x());
    status.resize(408, 60);
    status.ShowLinkState("");

    // Not connected: the sliders act on the system mixer, and a change made outside shows after a repaint.
    if (!status.mixer().available())
        return;
    link.connected = false;
    platform::post_message(&status, msg::kSliderReleased, CStatusDlg::kOutputSlider, 42);
    settle();
    EXPECT_NE(amixer({"sget", "Master"}).find("[42%]"), std::string::npos);
    amixer({"sset", "Capture", "23%"});
    amixer({"sset", "Master", "61%"});
    platform::post_message(&status, msg::kRepaintLabel, reinterpret_cast<intptr_t>(status.count_label()), 0);
    settle();
    EXPECT_EQ(status.mic_slider()->GetPosition(), 23);
    EXPECT_EQ(status.output_slider()->GetPosition(), 61);
}

TEST(StatusBar, TheMixerOpensAfterTheFirstPaintAndTheSlidersTakeItsVolumes) {
    const bool sound = CMixer().available();
    if (sound) {
        amixer({"sset", "Master", "33%"});
        amixer({"sset", "Capture", "44%"});
        amixer({"sset", "Master", "unmute"});
    }
    Link link;
    RecordingActions actions(&link);
    CStatusDlg status(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    settle();
    EXPECT_FALSE(status.mixer_open()) << "not before the status bar is painted";
    status.resize(408, 60);
    status.show();
    ASSERT_TRUE(eventually_with_events([&] { return status.mixer_open(); }));
    if (sound) {
        EXPECT_EQ(status.output_slider()->GetPosition(), 33);
        EXPECT_EQ(status.mic_slider()->GetPosition(), 44);
    }
    EXPECT_FALSE(status.IsOutputMuted());

    // The service's volume that came before the mixer opened stays on the output slider; an output muted
    // in the system shows as muted.
    if (sound)
        amixer({"sset", "Master", "mute"});
    CStatusDlg second(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    platform::post_message(&second, msg::kOutputVolume, 77, 0);
    settle();
    second.resize(408, 60);
    second.show();
    ASSERT_TRUE(eventually_with_events([&] { return second.mixer_open(); }));
    EXPECT_EQ(second.output_slider()->GetPosition(), 77);
    if (sound) {
        EXPECT_TRUE(second.IsOutputMuted());
        amixer({"sset", "Master", "unmute"});
    }

    // A status bar never shown opens its mixer when a call needs it.
    CStatusDlg hidden(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    hidden.ToggleMicrophone();
    EXPECT_TRUE(hidden.mixer_open());
    if (sound) {
        EXPECT_EQ(hidden.mic_slider()->GetPosition(), 44);
    }
}

// Another device chosen (OK in the audio setup, or the device in use moved or went away): the new devices'
// mixer is opened off the UI thread, which goes on while the opening is held back here. Whatever needs the
// mixer afterwards acts on the chosen devices, waiting for the opening if need be; and the slider of each
// changed direction takes its new device's volume.
TEST(StatusBar, AnotherDeviceOpensItsMixerOffTheUiThread) {
    Link link;
    RecordingActions actions(&link);
    CStatusDlg status(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    struct {
        std::mutex m;
        std::condition_variable cv;
        bool open = true;
        std::vector<std::pair<int, int>> asked, asked_on_ui_thread;
    } gate;
    const std::thread::id ui_thread = std::this_thread::get_id();
    status.open_mixer = [&](int in, int out) {
        {
            std::unique_lock lock(gate.m);
            if (std::this_thread::get_id() == ui_thread) {
                gate.asked_on_ui_thread.emplace_back(in, out);
            } else {
                gate.asked.emplace_back(in, out);
                // Bounded, so that a failing test ends.
                gate.cv.wait_for(lock, std::chrono::seconds(30), [&] { return gate.open; });
            }
        }
        CStatusDlg::OpenedMixer opened = CStatusDlg::OpenMixer(in, out);
        opened.recording_volume = 30 + in;
        opened.output_volume = 50 + out;
        opened.output_muted = false;
        return opened;
    };
    auto hold = [&](bool held) {
        std::lock_guard lock(gate.m);
        gate.open = !held;
        gate.cv.notify_all();
    };
    auto asked = [&] {
        std::lock_guard lock(gate.m);
        return gate.asked;
    };
    status.resize(408, 60);
    status.show();
    ASSERT_TRUE(eventually_with_events([&] { return status.mixer_open(); }));
    EXPECT_EQ(status.mic_slider()->GetPosition(), 29);

    // The recording device changes while the opening is held back: the UI thread goes on.
    hold(true);
    status.SetRecordingDevice(1);
    ASSERT_TRUE(eventually([&] { return asked().size() == 2; })) << "an opening off the UI thread";
    EXPECT_EQ(asked().back(), std::make_pair(1, -1));
    EXPECT_FALSE(status.mixer_current());
    status.SetPlaybackDevice(0);
    EXPECT_EQ(asked().size(), 2u) << "one opening at a time";
    EXPECT_TRUE(gate.asked_on_ui_thread.empty());
    // A call that needs the mixer now waits for the chosen devices' mixer.
    std::thread release([&] { hold(false); });
    CMixer& now = status.mixer();
    release.join();
    EXPECT_EQ(now.input_index(), 1);
    EXPECT_EQ(now.output_index(), 0);
    EXPECT_EQ(status.mic_slider()->GetPosition(), 31);
    EXPECT_EQ(status.output_slider()->GetPosition(), 50);

    // Two changes while one opening is held back, and nothing asks for the mixer: when that opening is done,
    // the next one starts, and its mixer is the one in use; no opening ran on the UI thread.
    const size_t on_ui_thread = gate.asked_on_ui_thread.size();
    const size_t before = asked().size();
    hold(true);
    status.SetRecordingDevice(2);
    status.SetPlaybackDevice(-1);
    ASSERT_TRUE(eventually([&] { return asked().size() == before + 1; }));
    hold(false);
    ASSERT_TRUE(eventually_with_events([&] { return status.mixer_current(); }));
    EXPECT_EQ(asked().back(), std::make_pair(2, -1));
    EXPECT_EQ(gate.asked_on_ui_thread.size(), on_ui_thread);
    EXPECT_EQ(status.mic_slider()->GetPosition(), 32);
    EXPECT_EQ(status.output_slider()->GetPosition(), 49);
}

TEST(AudioDevices, TheSoundServersDevicesByTheirNamesThenTheCards) {
    if (list_sound_server_devices(false).empty())
        GTEST_SKIP() << "no sound server (run through scripts/with-test-env)";
    const auto playback = list_audio_devices(false);
    const auto capture = list_audio_devices(true);
    auto find = [](const std::vector<AudioDevice>& list, const std::string& name) {
        for (const auto& d : list)
            if (d.name == name)
                return d.description;
        return std::string("(missing)");
    };
    EXPECT_EQ(find(playback, "pulse:quorin_null"), "QuorinNull") << "the sink's description";
    EXPECT_EQ(find(playback, "pulse:quorin_speaker"), "QuorinSpeaker");
    EXPECT_NE(find(capture, "pulse:quorin_mic"), "(missing)");
    for (const auto* list : {&playback, &capture})
        for (size_t i = 0; i < list->size(); ++i) {
            const AudioDevice& d = (*list)[i];
            SCOPED_TRACE(d.name);
            EXPECT_EQ(d.name.find(".monitor"), std::string::npos) << "no monitors of outputs";
            const bool server = d.name.rfind(kPulseDevicePrefix, 0) == 0;
            EXPECT_TRUE(server || d.name.rfind("sysdefault:CARD=", 0) == 0) << "no ALSA plug-ins";
            if (i > 0 && server) {
                EXPECT_EQ((*list)[i - 1].name.rfind(kPulseDevicePrefix, 0), 0u) << "the sound server first";
            }
        }
}
