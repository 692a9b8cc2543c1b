// The room session controller driven with real packets through the entry the link uses, against recording
// doubles of the panels and a link double that keeps what the client sends (no socket).
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>

#include "link_doubles.h"
#include "platform/message_ids.h"
#include "session/session_controller.h"
#include "temp_dir.h"

namespace {

struct PosterDouble : IMessagePoster {
    struct Posted {
        Window to;
        unsigned id;
        intptr_t w, l;
    };
    std::vector<Posted> posted;
    void Post(Window to, unsigned id, intptr_t w, intptr_t l) override { posted.push_back({to, id, w, l}); }
    void PostPayload(Window to, unsigned id, std::shared_ptr<void> payload, intptr_t l) override {
        posted.push_back({to, id, reinterpret_cast<intptr_t>(payload.get()), l});
    }
};

class Controller : public ::testing::Test, protected PanelDoubles {
protected:
    Controller()
        : service(dir.path().string(), "no-such-service"), session(transport),
          link(transport, service, host, session), controller(session, link, poster, host, "/opt/quorin") {
        ClientSettings s;
        s.camera_deviceid = 2;
        session.set_settings(s, dir.file("user.txt"));
        SessionIdentity id;
        id.user_id = 12;
        id.room_id = 7;
        session.set_identity(id);
        session.set_panels(panels());
        session.set_actions(&controller);
        session.roster().AddView(&roster_view);
        // The status bar's microphone button reaches the controller through request 7.
        status.on_toggle = [this] { session.request(kReqToggleMicrophone, nullptr, 0); };
    }

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
    void add(uint32_t id, uint32_t rights, const char* nick = "x") {
        packet(pkt::kUserPresent, user(id, rights, nick));
        journal.clear();
    }
    UserRecord* find(uint32_t id) { return session.roster().FindById(id); }
    std::vector<uint16_t> sent() { return transport.types(); }
    bool has(const std::string& line) {
        return std::find(journal.begin(), journal.end(), line) != journal.end();
    }

    TempDir dir;
    TransportDouble transport;
    ServiceProcess service;
    HostDouble host;
    PosterDouble poster;
    Session session;
    ServiceLink link;
    SessionController controller;
};

TEST_F(Controller, EnteringHostIsAnnouncedCountedAndHeard) {
    packet(pkt::kUserEntered, user(100, 71, "王老师"));
    EXPECT_TRUE(poster.posted.empty()) << "the record is in the roster at once, not posted";
    ASSERT_NE(find(100), nullptr);
    EXPECT_EQ(find(100)->block.state, 0u);
    EXPECT_TRUE(session.roster().HostOnline());
    EXPECT_EQ(journal, (Journal{"added 100", "recipient 王老师", "notice 王老师已进入房间", "host 王老师",
                                "count 1", "play /sound/newuser.wav"}));
}

TEST_F(Controller, PresentUserOrMutedOutputPlaysNoSoundAndAnnouncedTwiceCountsOnce) {
    packet(pkt::kUserPresent, user(100, 71, "王老师"));
    EXPECT_EQ(journal, (Journal{"added 100", "recipient 王老师", "host 王老师", "count 1"}));
    journal.clear();
    status.muted = true;
    packet(pkt::kUserEntered, user(200, 66, "小红"));
    EXPECT_EQ(journal, (Journal{"added 200", "recipient 小红", "notice 小红已进入房间", "count 2"}));
    journal.clear();
    packet(pkt::kUserEntered, user(200, 70, "小红"));
    EXPECT_EQ(journal, Journal{"changed 200"}) << "a seat taken over keeps one record";
    EXPECT_EQ(session.roster().size(), 2u);
    EXPECT_EQ(status.count, 2);
}

// Packets about a user that arrive right behind the user's announcement, in one read of the link.
TEST_F(Controller, PacketsRightBehindTheAnnouncementFindTheRecord) {
    login(66);
    packet(pkt::kUserEntered, user(30, 66, "小刚"));
    packet(pkt::kCameraState, proto::CameraState{30, 7, {0x44495658, 320, 240, 24}}.encode());
    packet(pkt::kMicrophoneState, proto::MicrophoneState{30, 1, 0}.encode());
    packet(pkt::kSpeakRequest, proto::SpeakRequest{30}.encode());
    packet(pkt::kRightsChange, proto::RightsChange{30, 4, 21, 0}.encode());
    UserRecord* r = find(30);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block.stream.fourcc, 0x44495658u);
    EXPECT_EQ(r->block.state, uint32_t(pkt::kStateMicrophone | pkt::kStateHand));
    EXPECT_EQ(r->block.rights, 70u);
}

TEST_F(Controller, UserLeavesInOrderAndOnlyKnownUsersAreCounted) {
    add(200, 66);
    add(300, 66);
    packet(pkt::kUserLeft, proto::UserLeft{200, 2}.encode());
    EXPECT_EQ(journal, (Journal{"user left 200", "removed 200", "count 1", "debug 200 已离开,Peer",
                                "release window 200/7"}));
    journal.clear();
    packet(pkt::kUserLeft, proto::UserLeft{300, 1}.encode());
    EXPECT_TRUE(has("debug 300 已离开,Server"));
    EXPECT_EQ(status.count, 0);
    journal.clear();
    packet(pkt::kUserLeft, proto::UserLeft{300, 1}.encode());
    packet(pkt::kUserLeft, proto::UserLeft{999, 1}.encode());
    packet(pkt::kUserLeft, proto::Bytes(11, 0));
    EXPECT_TRUE(journal.empty()) << "unknown users and short packets change nothing";
    EXPECT_EQ(status.count, 0) << "a departure of nobody we know does not lower the count";
}

// Two students of one name are told apart by their user ids wherever the client names them, and only while
// both are in the room.
TEST_F(Controller, TwoUsersOfOneNameAreNamedWithTheirUserIds) {
    login(71);
    packet(pkt::kUserEntered, user(30, 66, "李明"));
    packet(pkt::kUserEntered, user(31, 66, "李明"));
    packet(pkt::kUserEntered, user(32, 66, "张华"));
    EXPECT_TRUE(has("notice 李明已进入房间")) << "alone with the name when entering";
    EXPECT_TRUE(has("notice 李明 (31)已进入房间"));
    EXPECT_TRUE(has("notice 张华已进入房间"));
    EXPECT_EQ(gbk_to_utf8(session.roster().DisplayName(30)), "李明 (30)");
    EXPECT_EQ(session.roster().DisplayName(99), "");
    packet(pkt::kSpeakRequest, proto::SpeakRequest{31}.encode());
    EXPECT_TRUE(has("notice 李明 (31)举手申请发言"));
    EXPECT_TRUE(controller.GrantSpeech(31));
    EXPECT_EQ(journal.back(), "notice 已允许李明 (31)发言");
    // The panels ask through their request.
    std::string name;
    DisplayNameRequest r{30, &name};
    EXPECT_EQ(session.request(kReqDisplayName, &r, sizeof r), 1);
    EXPECT_EQ(gbk_to_utf8(name), "李明 (30)");
    r.user_id = 99;
    EXPECT_EQ(session.request(kReqDisplayName, &r, sizeof r), 0) << "nobody";
    packet(pkt::kUserLeft, proto::UserLeft{31, 2}.encode());
    EXPECT_EQ(gbk_to_utf8(session.roster().DisplayName(30)), "李明") << "alone with the name again";
}

TEST_F(Controller, LoginSuccess) {
    proto::LoginResult r;
    r.rights = 71;
    r.nickname = utf8_to_gbk("小明");
    r.output_volume = 65;
    r.ip = inet_addr("127.0.0.1");
    r.port = 5000;
    packet(pkt::kLoginResult, r.encode());
    EXPECT_EQ(journal, (Journal{"added 12", "count 1", "host 小明", "debug 自己127.0.0.1:5000,userid=12",
                                "notice 登录成功！"}));
    ASSERT_NE(session.roster().Self(), nullptr);
    EXPECT_EQ(session.roster().Self()->block.user_id, 12u);
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].to, Window::StatusBar);
    EXPECT_EQ(poster.posted[0].id, msg::kOutputVolume);
    EXPECT_EQ(poster.posted[0].w, 65);
}

// Each failure: the box text, and whether the link is retried.
TEST_F(Controller, LoginFailures) {
    const struct {
        uint32_t result;
        const char* box; // nullptr: no box, retried
    } cases[] = {{3, "登录失败: 房间不存在 [提示]"},
                 {5, "登录失败: 用户已登录 [提示]"},
                 {9, "登录失败:  [提示]"},
                 {6, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        transport.up = true;
        host.posted.clear();
        proto::LoginResult r;
        r.result = c.result;
        packet(pkt::kLoginResult, r.encode());
        deliver();
        // A room server that cannot be reached is asked again through the same link to the service.
        EXPECT_EQ(transport.connected(), c.box == nullptr);
        if (c.box) {
            EXPECT_EQ(host.posted, std::vector<std::string>{c.box});
            EXPECT_FALSE(link.reconnecting());
        } else {
            EXPECT_TRUE(host.posted.empty());
            EXPECT_EQ(status.link_states.back(), "正在重新连接...");
            auto done = host.wait_self();
            ASSERT_TRUE(done);
            EXPECT_EQ(done->first, msg::kReconnectDone);
            EXPECT_EQ(done->second, 1);
        }
    }
    EXPECT_TRUE(host.boxes.empty()) << "no modal box from inside a dispatch";
}

TEST_F(Controller, MalformedPacketsAreDropped) {
    login(66);
    for (uint16_t type : {pkt::kUserEntered, pkt::kUserLeft, pkt::kCameraState, pkt::kSpeakRequest,
                          pkt::kMicrophoneState, pkt::kRightsChange, pkt::kLoginResult, pkt::kChatMessage,
                          pkt::kSystemText, pkt::kVideoWanted, pkt::kLogoutResult})
        packet(type, proto::Bytes(3, 0xFF));
    EXPECT_TRUE(journal.empty());
    EXPECT_TRUE(poster.posted.empty());
}

TEST_F(Controller, RightsGrantedToSelfSwitchesTheMicrophoneOn) {
    login(66);
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 21, 0}.encode());
    EXPECT_EQ(session.roster().Self()->block.rights, 70u);
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].w, msg::kOwnSpeakRightParam);
    EXPECT_EQ(poster.posted[0].l, 21);
    journal.clear();
    deliver();
    EXPECT_EQ(journal, (Journal{"notice 申请发言审批通过", "status toggle microphone", "changed 12"}));
    EXPECT_TRUE(session.microphone_on());
    EXPECT_EQ(sent(), std::vector<uint16_t>{pkt::kMicrophoneOn});
    EXPECT_EQ(session.roster().Self()->block.state & 1, 1u);
}

TEST_F(Controller, QuietGrantSwitchesOnSilently) {
    login(66);
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 21, 1}.encode());
    EXPECT_EQ(poster.posted[0].l, 21 | (1 << 16));
    journal.clear();
    deliver();
    EXPECT_EQ(journal, (Journal{"status toggle microphone", "changed 12"}));
}

TEST_F(Controller, TheMicrophoneIsOnOnlyWhenTheServiceSaysItIsOpen) {
    login(70);
    controller.ToggleMicrophone(0);
    EXPECT_EQ(journal, (Journal{"changed 12"})) << "nothing said before the service has opened it";
    journal.clear();
    packet(pkt::kMicrophoneState, proto::MicrophoneState{12, 1, 0}.encode());
    EXPECT_EQ(journal, (Journal{"notice 本地麦克风已开启", "changed 12"}));
    journal.clear();
    packet(pkt::kMicrophoneState, proto::MicrophoneState{12, 1, 0}.encode());
    EXPECT_EQ(journal, (Journal{"changed 12"})) << "said once";
    controller.ToggleMicrophone(0);
    EXPECT_FALSE(session.microphone_on());

    // A microphone that cannot be opened: the service's reason is shown whatever the detail switch, and the
    // microphone is off again, button and tile.
    controller.ToggleMicrophone(0);
    journal.clear();
    packet(pkt::kSystemText,
           proto::SystemText{utf8_to_gbk("无法打开麦克风：lavrate: No such file or directory")}.encode());
    packet(pkt::kMicrophoneState, proto::MicrophoneState{12, 1, 1}.encode());
    EXPECT_EQ(journal, (Journal{"notice 无法打开麦克风：lavrate: No such file or directory",
                                "status microphone off", "changed 12"}));
    EXPECT_FALSE(session.microphone_on());
    EXPECT_EQ(session.roster().Self()->block.state & 1, 0u);
    // Other system texts stay behind the detail switch; another user's state is theirs.
    journal.clear();
    packet(pkt::kSystemText, proto::SystemText{"debug"}.encode());
    EXPECT_TRUE(journal.empty());
}

TEST_F(Controller, WithdrawWhileTheMicrophoneIsOnSwitchesItOff) {
    login(70);
    controller.ToggleMicrophone(0);
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 22, 0}.encode());
    journal.clear();
    deliver();
    EXPECT_EQ(journal, (Journal{"status toggle microphone", "notice 本地麦克风已关闭", "changed 12"}));
    EXPECT_FALSE(session.microphone_on());
    EXPECT_EQ(sent(), (std::vector<uint16_t>{pkt::kMicrophoneOn, pkt::kMicrophoneOff}));
}

TEST_F(Controller, RightsChangesThatDoNothingForTheMainDialog) {
    login(66);
    add(30, 66);
    packet(pkt::kRightsChange, proto::RightsChange{12, 4, 23, 0}.encode());
    EXPECT_EQ(session.roster().Self()->block.rights, 66u) << "operation 23 changes nothing";
    packet(pkt::kRightsChange, proto::RightsChange{30, 4, 21, 0}.encode());
    EXPECT_EQ(find(30)->block.rights, 70u);
    packet(pkt::kRightsChange, proto::RightsChange{99, 4, 21, 0}.encode());
    packet(pkt::kRightsChange, proto::RightsChange{12, 2, 22, 0}.encode());
    EXPECT_EQ(session.roster().Self()->block.rights, 64u);
    EXPECT_TRUE(poster.posted.empty()) << "only the own speak bit concerns the main dialog";
}

TEST_F(Controller, MediaStartMayTurnOnTheMicrophoneAndTheCamera) {
    login(71);
    media.present = true;
    packet(pkt::kMediaStart);
    deliver();
    EXPECT_EQ(journal,
              (Journal{"select mic", "mute 3 on", "status toggle microphone", "changed 12", "changed 12",
                       "switch camera on 2", "notice 本地摄像头已开启", "changed 12"}));
    EXPECT_TRUE(session.camera_on());
    EXPECT_EQ(session.roster().Self()->block.stream.fourcc, 1u);
}

TEST_F(Controller, AfterALostLinkTheMediaStartBringsTheCameraBackWithTheMicrophone) {
    login(71);
    media.present = true;
    packet(pkt::kMediaStart);
    deliver();
    ASSERT_TRUE(session.camera_on());
    ASSERT_TRUE(session.microphone_on());

    link.Reconnect(); // message 1046: the room forgets both
    EXPECT_TRUE(has("switch camera off 2")) << "the camera nobody can watch stops";
    EXPECT_FALSE(session.camera_on());
    auto done = host.wait_self(10000);
    ASSERT_TRUE(done);
    link.OnReconnectDone(done->second);
    EXPECT_EQ(sent().back(), pkt::kLogin);

    login(71);
    packet(pkt::kMediaStart);
    deliver();
    EXPECT_TRUE(session.microphone_on());
    EXPECT_TRUE(session.camera_on()) << "on again, as before the loss";
    EXPECT_TRUE(has("switch camera on 2"));
    EXPECT_FALSE(has("switch camera off 2"));
    EXPECT_TRUE(session.roster().Self()->block.state & pkt::kStateVideo);
}

TEST_F(Controller, MediaStartWithoutCameraOrSpeakRight) {
    login(66);
    packet(pkt::kMediaStart);
    deliver();
    EXPECT_EQ(journal, (Journal{"select mic", "mute 3 on", "notice 未检测到摄像头设备"}));
    EXPECT_TRUE(sent().empty());
}

TEST_F(Controller, SpeakRequest) {
    login(66);
    EXPECT_FALSE(controller.RequestToSpeak());
    EXPECT_EQ(journal, Journal{"notice 发起人不在线，无法完成申请！"});
    EXPECT_TRUE(sent().empty());
    add(100, 71);
    EXPECT_TRUE(session.request(kReqSpeakRequest, nullptr, 0));
    EXPECT_EQ(journal.back(), "notice 已向发起人申请，等待审批！");
    EXPECT_EQ(sent(), std::vector<uint16_t>{pkt::kSpeakRequest});
    session.roster().Self()->block.rights = 70;
    EXPECT_FALSE(controller.RequestToSpeak());
    EXPECT_EQ(journal.back(), "notice 你已经拥有发言的权利，不需要申请！");
    session.roster().Self()->block.rights = 65;
    EXPECT_FALSE(controller.RequestToSpeak());
    EXPECT_EQ(journal.back(), "notice 发起人已经有权限，不需要申请！");
}

TEST_F(Controller, MicrophoneToggleRulesAndDeviceId) {
    EXPECT_TRUE(controller.ToggleMicrophone(0)) << "handled: before login there is no record, so refused";
    EXPECT_EQ(journal, Journal{"notice 你没有发言的权限"});
    login(70);
    int device = 5;
    session.request(kReqToggleMicrophone, &device, sizeof device);
    ASSERT_EQ(sent(), std::vector<uint16_t>{pkt::kMicrophoneOn});
    const auto& p = transport.sent[0].payload;
    EXPECT_EQ(proto::MicrophoneOn::decode(p.data(), p.size())->device, 5u);
    transport.close_socket();
    EXPECT_FALSE(session.request(kReqToggleMicrophone, nullptr, 0)) << "not connected";
}

TEST_F(Controller, CameraToggleRules) {
    login(64); // no camera right
    EXPECT_FALSE(controller.ToggleCamera(-1));
    EXPECT_EQ(journal, (Journal{"notice 操作摄像头未被允许", "changed 12"}));
    journal.clear();
    session.roster().Self()->block.rights = 66;
    EXPECT_FALSE(controller.ToggleCamera(-1));
    EXPECT_EQ(journal.front(), "notice 没有找到摄像头,请确认是否与电脑正常连接!");
    journal.clear();
    media.present = true;
    media.switch_ok = false;
    EXPECT_FALSE(controller.ToggleCamera(-1));
    EXPECT_EQ(journal, (Journal{"switch camera on 0", "notice 无法开启本地摄像头", "changed 12"}));
    media.switch_ok = true;
    EXPECT_TRUE(session.request(kReqToggleCamera, nullptr, 0));
    EXPECT_TRUE(session.camera_on());
    EXPECT_EQ(session.roster().Self()->block.state & pkt::kStateVideo, uint32_t(pkt::kStateVideo));
    journal.clear();
    session.roster().Self()->block.rights = 64; // a camera that runs may always be switched off
    EXPECT_TRUE(controller.ToggleCamera(2));
    EXPECT_EQ(journal, (Journal{"switch camera off 2", "notice 本地摄像头已关闭", "changed 12"}));
}

TEST_F(Controller, PerUserUpdatesIgnoreUnknownUsersAndOtherDevices) {
    login(66);
    add(30, 66);
    packet(pkt::kMicrophoneState, proto::MicrophoneState{30, 2, 0}.encode());
    EXPECT_EQ(find(30)->block.state, 0u) << "device 2 is not the microphone";
    packet(pkt::kMicrophoneState, proto::MicrophoneState{30, 1, 0}.encode());
    packet(pkt::kMicrophoneState, proto::MicrophoneState{30, 1, 7}.encode());
    EXPECT_EQ(find(30)->block.state, 0u);
    packet(pkt::kCameraState, proto::CameraState{30, 8, {}}.encode());
    packet(pkt::kCameraState, proto::CameraState{99, 7, {}}.encode());
    packet(pkt::kSpeakRequest, proto::SpeakRequest{99}.encode());
    EXPECT_EQ(journal, (Journal{"changed 30", "changed 30", "changed 30", "release window 30/8"}));
}

TEST_F(Controller, VideoWantedOnlyWhileTheCameraIsOn) {
    packet(pkt::kVideoWanted, proto::VideoWanted{1}.encode());
    EXPECT_TRUE(journal.empty());
    session.set_camera_on(true);
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
    controller.OnVideoPacket(frame.data(), 19);
    packet(pkt::kLogoutResult, proto::LogoutResult{0}.encode());
    packet(pkt::kLogoutResult, proto::LogoutResult{1}.encode());
    packet(pkt::kIgnored23, {5, 6});
    packet(31000, {1, 2, 3});
    EXPECT_EQ(journal, (Journal{"system x", "chat from 0: hi", "video 23"}));
    EXPECT_EQ(host.posted, std::vector<std::string>{"登出成功 [提示]"});
    ASSERT_EQ(poster.posted.size(), 1u);
    EXPECT_EQ(poster.posted[0].id, msg::kIgnored23);
    deliver();
    EXPECT_EQ(journal.size(), 3u) << "type 23 is ignored by the dialog";
}

TEST_F(Controller, StopWatchingSendsReleasesAndClearsTheBit) {
    add(30, 66);
    session.roster().SetState(30, pkt::kStateVideo, true);
    journal.clear();
    controller.OnMessage(msg::kStopWatching, 30, 0);
    controller.OnMessage(msg::kStopWatching, 31, 0);
    EXPECT_EQ(sent(), std::vector<uint16_t>{pkt::kWatchVideo});
    auto w = proto::WatchVideo::decode(transport.sent[0].payload.data(), transport.sent[0].payload.size());
    EXPECT_EQ(w->user_id, 30u);
    EXPECT_EQ(journal, (Journal{"release window 30/7", "changed 30"}));
    EXPECT_EQ(find(30)->block.state & pkt::kStateVideo, 0u);
}

TEST_F(Controller, DeviceChangesToggleTwiceAndAreSaved) {
    login(70);
    controller.ToggleMicrophone(0);
    dialogs.record = 3;
    dialogs.play = 1;
    controller.OnAudioSetup();
    EXPECT_EQ(sent(), (std::vector<uint16_t>{pkt::kMicrophoneOn, pkt::kMicrophoneOff, pkt::kMicrophoneOn}));
    EXPECT_EQ(session.settings().record_deviceid, 3);
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
    EXPECT_EQ(session.settings().camera_deviceid, 1) << "cancel keeps the device";
}

TEST_F(Controller, StartupAudioHint) {
    controller.StartupAudioHint();
    EXPECT_TRUE(journal.empty());
    media.echo_problem = true;
    controller.StartupAudioHint();
    EXPECT_EQ(journal, Journal{"notice 为了音质清晰，请关闭其他音频程序后再进入系统！"});
}

} // namespace

// The panels' intents leave as the packets the room reads.
TEST_F(Controller, IntentsOfThePanelsAreEncodedOnce) {
    login(71);
    controller.WatchUser(30);
    controller.AllowSpeech(31, true);
    controller.AllowSpeech(32, false);
    controller.SetOutputVolume(55);
    OutgoingChatLine line;
    line.target = 33;
    line.private_line = true;
    line.font_face = "SimSun";
    line.effects = 5;
    line.height = 180;
    line.colour = 0x00112233;
    line.text = "hi";
    EXPECT_TRUE(controller.SendChatLine(line));
    ASSERT_EQ(sent(), (std::vector<uint16_t>{pkt::kWatchVideo, pkt::kSpeakControl, pkt::kSpeakControl,
                                             pkt::kOutputVolume, pkt::kChat}));
    auto payload = [&](size_t i) { return transport.sent[i].payload; };
    EXPECT_EQ(payload(0), (proto::WatchVideo{30, 1}.encode()));
    EXPECT_EQ(payload(1), (proto::SpeakControl{31, 1}.encode()));
    EXPECT_EQ(payload(2), (proto::SpeakControl{32, 0}.encode()));
    EXPECT_EQ(payload(3), (proto::OutputVolume{55}.encode()));
    auto chat = proto::ChatLine::decode(payload(4).data(), payload(4).size());
    ASSERT_TRUE(chat);
    EXPECT_EQ(payload(4).size(), 69u + 3u) << "69 + n, n the text with its terminator";
    EXPECT_EQ(chat->target, 33u);
    EXPECT_EQ(chat->private_flag, 1);
    EXPECT_EQ(chat->font_face, "SimSun");
    EXPECT_EQ(chat->effects, 5);
    EXPECT_EQ(chat->height, 180);
    EXPECT_EQ(chat->colour, 0x00112233u);
    EXPECT_EQ(chat->text, "hi");
    transport.close_socket();
    EXPECT_FALSE(controller.SendChatLine(line)) << "a line the link did not take is said so";
}
