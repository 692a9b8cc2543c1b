// The room session controller driven with real packets through the entry the link uses, against recording
// doubles of the panels and a stand-in service that reads what the client sends.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>

#include "link_doubles.h"
#include "message_ids.h"
#include "session_controller.h"
#include "stand_in.h"
#include "temp_dir.h"

namespace {

struct PosterDouble : IMessagePoster {
    struct Posted {
        Window to;
        unsigned id;
        intptr_t w, l;
        std::shared_ptr<void> payload;
    };
    std::vector<Posted> posted;
    void Post(Window to, unsigned id, intptr_t w, intptr_t l) override {
        posted.push_back({to, id, w, l, nullptr});
    }
    void PostPayload(Window to, unsigned id, std::shared_ptr<void> payload, intptr_t l) override {
        posted.push_back({to, id, reinterpret_cast<intptr_t>(payload.get()), l, payload});
    }
};

class Controller : public ::testing::Test, protected PanelDoubles {
protected:
    Controller()
        : service(dir.path().string(), "no-such-service"), link(client, service, host),
          controller(link, poster, host, "/opt/quorin") {
        ClientSettings s;
        s.port = stand_in.port();
        s.camera_deviceid = 2;
        link.set_settings(s, dir.file("user.txt"));
        SessionIdentity id;
        id.user_id = 12;
        id.room_id = 7;
        link.set_identity(id);
        link.set_panels(panels());
        link.set_actions(&controller);
        controller.set_panels(panels());
        // The status bar's microphone button reaches the controller through request 7.
        status.on_toggle = [this] { link.request(kReqToggleMicrophone, nullptr, 0); };
    }
    void SetUp() override {
        link.SetUp(&handler);
        client.changeip(htonl(INADDR_LOOPBACK), stand_in.port());
        stand_in.accept_only();
        host.boxes.clear(); // the missing service program's message at set-up
    }
    void TearDown() override { client.close(); }

    void packet(uint16_t type, const proto::Bytes& payload = {}) {
        controller.Dispatch(type, payload.empty() ? nullptr : payload.data(), payload.size());
    }
    // Runs the messages posted to the main dialog, as its window would.
    void deliver() {
        auto pending = std::move(poster.posted);
        poster.posted.clear();
        for (auto& p : pending) {
            if (p.to == Window::MainDialog)
                controller.OnMessage(p.id, p.w, p.l);
            else
                poster.posted.push_back(p);
        }
    }
    void login(uint32_t rights) {
        proto::LoginResult r;
        r.rights = rights;
        r.nickname = utf8_to_gbk("小明");
        r.ip = inet_addr("127.0.0.1");
        r.port = 5000;
        packet(pkt::kLoginResult, r.encode());
        journal.clear();
        poster.posted.clear();
    }
    proto::Bytes user(uint32_t id, uint32_t rights, const char* nick_utf8) {
        proto::UserBlock b;
        b.user_id = id;
        b.rights = rights;
        b.state = 0x23; // arrives set; the record starts with none
        b.nickname = utf8_to_gbk(nick_utf8);
        return b.encode();
    }
    // The types of the packets the client sent to the service: waits for `expected` of them, then a little
    // longer for any that should not be there.
    std::vector<uint16_t> sent(size_t expected) {
        std::vector<uint16_t> types;
        while (types.size() < expected) {
            auto p = stand_in.read(5000);
            if (!p)
                return types;
            types.push_back(p->type);
        }
        while (auto p = stand_in.read(100))
            types.push_back(p->type);
        return types;
    }
    bool has(const std::string& line) {
        return std::find(journal.begin(), journal.end(), line) != journal.end();
    }

    TempDir dir;
    StandIn stand_in;
    tcpclient client;
    ServiceProcess service;
    HostDouble host;
    HandlerDouble handler;
    PosterDouble poster;
    ServiceLink link;
    SessionController controller;
};

} // namespace

TEST_F(Controller, EnteringHostIsAnnouncedCountedAndHeard) {
    packet(pkt::kUserEntered, user(100, 71, "王老师"));
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].to, Window::UserList);
    EXPECT_EQ(poster.posted[0].id, msg::kAddUser);
    EXPECT_EQ(poster.posted[0].l, 1);
    auto* rec = static_cast<UserRecord*>(poster.posted[0].payload.get());
    EXPECT_EQ(rec->block.user_id, 100u);
    EXPECT_EQ(rec->block.state, 0u);
    EXPECT_EQ(journal, (Journal{"recipient 王老师", "notice 王老师己进入房间", "host 王老师", "count 1",
                                "play /sound/newuser.wav"}));
}

TEST_F(Controller, PresentUserOrMutedOutputPlaysNoSound) {
    packet(pkt::kUserPresent, user(100, 71, "王老师"));
    EXPECT_EQ(journal, (Journal{"recipient 王老师", "host 王老师", "count 1"}));
    journal.clear();
    status.muted = true;
    packet(pkt::kUserEntered, user(200, 66, "小红"));
    EXPECT_EQ(journal, (Journal{"recipient 小红", "notice 小红己进入房间", "count 2"}));
}

TEST_F(Controller, UserLeavesInOrder) {
    status.count = 3;
    packet(pkt::kUserLeft, proto::UserLeft{200, 2}.encode());
    EXPECT_EQ(journal,
              (Journal{"user left 200", "count 2", "debug 200 已离开,Peer", "release window 200/7"}));
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].id, msg::kRemoveUser);
    EXPECT_EQ(poster.posted[0].w, 200);
    journal.clear();
    packet(pkt::kUserLeft, proto::UserLeft{300, 1}.encode());
    EXPECT_TRUE(has("debug 300 已离开,Server"));
    journal.clear();
    packet(pkt::kUserLeft, proto::Bytes(11, 0));
    EXPECT_TRUE(journal.empty()) << "short packet dropped";
}

TEST_F(Controller, LoginSuccess) {
    proto::LoginResult r;
    r.rights = 71;
    r.nickname = utf8_to_gbk("小明");
    r.output_volume = 65;
    r.ip = inet_addr("127.0.0.1");
    r.port = 5000;
    packet(pkt::kLoginResult, r.encode());
    EXPECT_EQ(journal, (Journal{"self user 12", "count 1", "host 小明", "debug 自己127.0.0.1:5000,userid=12",
                                "notice 登录成功！"}));
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].to, Window::StatusBar);
    EXPECT_EQ(poster.posted[0].id, msg::kOutputVolume);
    EXPECT_EQ(poster.posted[0].w, 65);
}

TEST_F(Controller, LoginFailuresShowTheirReasonAndDropTheLink) {
    proto::LoginResult r;
    r.result = 3;
    packet(pkt::kLoginResult, r.encode());
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].id, msg::kLoginFailed);
    deliver();
    EXPECT_EQ(host.boxes, std::vector<std::string>{"登录失败: 房间不存在 [提示] (error)"});
    EXPECT_FALSE(client.connected());
    r.result = 9;
    packet(pkt::kLoginResult, r.encode());
    deliver();
    EXPECT_EQ(host.boxes.back(), "登录失败:  [提示] (error)");
    EXPECT_TRUE(journal.empty());
}

TEST_F(Controller, RightsGrantedToSelfSwitchesTheMicrophoneOn) {
    login(66);
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 21, 0}.encode());
    EXPECT_EQ(users.self->block.rights, 70u);
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].w, 2);
    EXPECT_EQ(poster.posted[0].l, 21);
    deliver();
    EXPECT_EQ(journal, (Journal{"notice 申请发言审批通过", "status toggle microphone",
                                "notice 本地麦克风已开启", "refresh 12"}));
    EXPECT_TRUE(link.microphone_on());
    EXPECT_EQ(sent(1), std::vector<uint16_t>{pkt::kMicrophoneOn});
    EXPECT_EQ(users.self->block.state & 1, 1u);
}

TEST_F(Controller, QuietGrantSwitchesOnSilently) {
    login(66);
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 21, 1}.encode());
    EXPECT_EQ(poster.posted[0].l, 21 | (1 << 16));
    deliver();
    EXPECT_EQ(journal, (Journal{"status toggle microphone", "notice 本地麦克风已开启", "refresh 12"}));
}

TEST_F(Controller, WithdrawWhileTheMicrophoneIsOnSwitchesItOff) {
    login(70);
    controller.ToggleMicrophone(0);
    journal.clear();
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 22, 0}.encode());
    deliver();
    EXPECT_EQ(journal, (Journal{"status toggle microphone", "notice 本地麦克风已关闭", "refresh 12"}));
    EXPECT_FALSE(link.microphone_on());
    EXPECT_EQ(sent(2), (std::vector<uint16_t>{pkt::kMicrophoneOn, pkt::kMicrophoneOff}));
}

TEST_F(Controller, RightsChangesThatDoNothing) {
    login(66);
    users.add(30, 66);
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 23, 0}.encode());
    EXPECT_EQ(users.self->block.rights, 66u) << "operation 23 changes nothing";
    packet(pkt::kRightsChange, proto::RightsChange{30, 4, 21, 0}.encode());
    EXPECT_EQ(users.FindUserById(30)->block.rights, 70u);
    packet(pkt::kRightsChange, proto::RightsChange{99, 4, 21, 0}.encode());
    packet(pkt::kRightsChange, proto::RightsChange{12, 2, 22, 0}.encode());
    EXPECT_EQ(users.self->block.rights, 64u);
    EXPECT_TRUE(poster.posted.empty()) << "only the own speak bit concerns the main dialog";
    EXPECT_TRUE(journal.empty()) << "a change of rights is not repainted by itself";
}

TEST_F(Controller, MediaStartMayTurnOnTheMicrophoneAndTheCamera) {
    login(71);
    media.present = true;
    packet(pkt::kMediaStart);
    deliver();
    EXPECT_EQ(journal,
              (Journal{"select mic", "mute 3 on", "status toggle microphone", "notice 本地麦克风已开启",
                       "refresh 12", "self camera idle present", "switch camera on 2",
                       "notice 本地摄像头已开启", "self camera sending present"}));
    EXPECT_TRUE(link.camera_on());
}

TEST_F(Controller, MediaStartWithoutCameraOrSpeakRight) {
    login(66);
    packet(pkt::kMediaStart);
    deliver();
    EXPECT_EQ(journal, (Journal{"select mic", "mute 3 on", "notice 未检测到摄像头设备"}));
    EXPECT_TRUE(sent(0).empty());
}

TEST_F(Controller, SpeakRequest) {
    login(66);
    EXPECT_FALSE(controller.RequestToSpeak());
    EXPECT_EQ(journal, Journal{"notice 发起人不在线，无法完成申请！"});
    EXPECT_TRUE(sent(0).empty());
    users.add(100, 71);
    EXPECT_TRUE(link.request(kReqSpeakRequest, nullptr, 0));
    EXPECT_EQ(journal.back(), "notice 已向发起人申请，等待审批！");
    EXPECT_EQ(sent(1), std::vector<uint16_t>{pkt::kSpeakRequest});
    users.self->block.rights = 70;
    EXPECT_FALSE(controller.RequestToSpeak());
    EXPECT_EQ(journal.back(), "notice 你已经拥有发言的权利，不需要申请！");
    users.self->block.rights = 65;
    EXPECT_FALSE(controller.RequestToSpeak());
    EXPECT_EQ(journal.back(), "notice 发起人己经有权限，不需要申请！");
}

TEST_F(Controller, MicrophoneToggleRules) {
    EXPECT_TRUE(controller.ToggleMicrophone(0)) << "handled: before login there is no record, so refused";
    EXPECT_EQ(journal, Journal{"notice 你没有发言的权限"});
    client.close_socket();
    EXPECT_FALSE(link.request(kReqToggleMicrophone, nullptr, 0)) << "not connected";
}

TEST_F(Controller, MicrophoneOnCarriesTheDeviceId) {
    login(70);
    int device = 5;
    link.request(kReqToggleMicrophone, &device, sizeof device);
    auto p = stand_in.read(1000);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->type, pkt::kMicrophoneOn);
    EXPECT_EQ(proto::MicrophoneOn::decode(p->payload.data(), p->payload.size())->device, 5u);
}

TEST_F(Controller, CameraToggleRules) {
    login(64); // no camera right
    EXPECT_FALSE(controller.ToggleCamera(-1));
    EXPECT_EQ(journal, (Journal{"notice 操作摄像头未被允许", "self camera idle absent"}));
    journal.clear();
    users.self->block.rights = 66;
    EXPECT_FALSE(controller.ToggleCamera(-1));
    EXPECT_EQ(journal.front(), "notice 没有找到摄像头,请确认是否与电脑正常连接!");
    journal.clear();
    media.present = true;
    media.switch_ok = false;
    EXPECT_FALSE(controller.ToggleCamera(-1));
    EXPECT_EQ(journal,
              (Journal{"switch camera on 0", "notice 无法开启本地摄像头", "self camera idle present"}));
    media.switch_ok = true;
    EXPECT_TRUE(link.request(kReqToggleCamera, nullptr, 0));
    EXPECT_TRUE(link.camera_on());
    journal.clear();
    users.self->block.rights = 64; // a camera that runs may always be switched off
    EXPECT_TRUE(controller.ToggleCamera(2));
    EXPECT_EQ(journal,
              (Journal{"switch camera off 2", "notice 本地摄像头已关闭", "self camera idle present"}));
}

TEST_F(Controller, PerUserUpdates) {
    login(66);
    users.add(30, 66);
    packet(pkt::kSpeakRequest, proto::SpeakRequest{30}.encode());
    EXPECT_EQ(users.FindUserById(30)->block.state, uint32_t(pkt::kStateHand));
    packet(pkt::kMicrophoneState, proto::MicrophoneState{30, 1, 0}.encode());
    packet(pkt::kMicrophoneState, proto::MicrophoneState{30, 2, 0}.encode());
    packet(pkt::kMicrophoneState, proto::MicrophoneState{30, 1, 7}.encode());
    packet(pkt::kCameraState, proto::CameraState{30, 7, {0x44495658, 320, 240, 24}}.encode());
    packet(pkt::kCameraState, proto::CameraState{30, 8, {}}.encode());
    packet(pkt::kCameraState, proto::CameraState{99, 7, {}}.encode());
    packet(pkt::kSpeakRequest, proto::SpeakRequest{99}.encode());
    EXPECT_EQ(journal, (Journal{"refresh 30", "mic state 30 on", "mic state 30 off", "stream 30 1145656920",
                                "stream 30 0", "release window 30/8"}));
}

TEST_F(Controller, VideoWantedOnlyWhileTheCameraIsOn) {
    packet(pkt::kVideoWanted, proto::VideoWanted{1}.encode());
    EXPECT_TRUE(journal.empty());
    link.set_camera_on(true);
    packet(pkt::kVideoWanted, proto::VideoWanted{1}.encode());
    packet(pkt::kVideoWanted, proto::VideoWanted{0}.encode());
    EXPECT_EQ(journal, (Journal{"video wanted 1", "video wanted 0"}));
}

TEST_F(Controller, TextsVideoAndOtherTypes) {
    packet(pkt::kSystemText, proto::SystemText{"x"}.encode());
    log.detail = true;
    packet(pkt::kSystemText, proto::SystemText{"x"}.encode());
    proto::ChatLine line;
    line.text = "hi";
    packet(pkt::kChatMessage, line.encode());
    packet(pkt::kChatMessage, proto::Bytes(60, 0));
    proto::VideoFrame f;
    f.frame = {1, 2, 3};
    auto frame = f.encode();
    controller.OnVideoPacket(frame.data(), frame.size());
    packet(pkt::kLogoutResult, proto::LogoutResult{0}.encode());
    packet(pkt::kLogoutResult, proto::LogoutResult{1}.encode());
    packet(pkt::kIgnored23, {5, 6});
    packet(31000, {1, 2, 3});
    EXPECT_EQ(journal, (Journal{"system 6", "chat packet 72", "video 23"}));
    EXPECT_EQ(host.posted, std::vector<std::string>{"登出成功 [提示]"});
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].id, msg::kRemoveUser);
    EXPECT_EQ(poster.posted[0].w, 5);
    EXPECT_EQ(poster.posted[0].l, 6);
    deliver();
    EXPECT_EQ(journal.size(), 3u) << "type 23 is ignored by the dialog";
}

TEST_F(Controller, StopWatchingGoesToTheUserList) {
    users.add(30, 66);
    controller.OnMessage(msg::kStopWatching, 30, 0);
    controller.OnMessage(msg::kStopWatching, 31, 0);
    EXPECT_EQ(journal, Journal{"stop watching 30"});
}

TEST_F(Controller, DeviceChangesToggleTwiceAndAreSaved) {
    login(70);
    controller.ToggleMicrophone(0);
    sent(1);
    dialogs.record = 3;
    dialogs.play = 1;
    controller.OnAudioSetup();
    EXPECT_EQ(sent(2), (std::vector<uint16_t>{pkt::kMicrophoneOff, pkt::kMicrophoneOn}));
    EXPECT_EQ(link.settings().record_deviceid, 3);
    EXPECT_EQ(status.selected, std::vector<int>{3});
    EXPECT_EQ(read_settings(dir.file("user.txt")).play_deviceid, 1);

    media.present = true;
    controller.ToggleCamera(2);
    journal.clear();
    dialogs.camera = 1;
    controller.OnVideoSetup();
    EXPECT_EQ(journal[0], "switch camera off 2");
    EXPECT_EQ(journal[3], "switch camera on 1");
    EXPECT_EQ(read_settings(dir.file("user.txt")).camera_deviceid, 1);

    dialogs.ok = false;
    dialogs.camera = 0;
    controller.OnVideoSetup();
    EXPECT_EQ(link.settings().camera_deviceid, 1) << "cancel keeps the device";
}

TEST_F(Controller, StartupAudioHint) {
    controller.StartupAudioHint();
    EXPECT_TRUE(journal.empty());
    media.echo_problem = true;
    controller.StartupAudioHint();
    EXPECT_EQ(journal, Journal{"notice 为了音质清晰，请关闭其他音频程序后再进入系统！"});
}
