// The whole road: the built quorin (headless) starts its velmor, which relays to a room server where two test
// participants wait. The client logs in, sees both, receives a public and a private chat line, is granted the
// right to speak and switches its microphone on, and sees a participant leave.
#include <gtest/gtest.h>

#include <signal.h>

#include "installation.h"
#include "platform/process.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "wire/protocol.h"

TEST(RoomEndToEnd, ClientJoinsChatsIsGrantedSpeechAndSeesALeave) {
    // The room server runs under its real name beside the client, as on a teacher's machine: the client must
    // not take it for its own service.
    RoomServerProcess server("velmor",
                             utf8_to_gbk("user 100 王老师\nuser 200 小红\nuser 12 小明\nhost 7 100\n"));
    RoomPeer teacher, pupil;
    ASSERT_TRUE(teacher.connect(server.port()));
    ASSERT_EQ(login_peer(teacher, 100, 7), 0);
    ASSERT_TRUE(pupil.connect(server.port()));
    ASSERT_EQ(login_peer(pupil, 200, 7), 0);

    Installation inst("[room]\nserver=127.0.0.1:" + std::to_string(server.port()) + "\n", true);
    pid_t client = inst.start("client", "userid=12&roomid=7&subject=math", 60000);
    ASSERT_GT(client, 0);
    ClientReaper reaper{client, inst.folder()};

    // Logged in, and both participants are there.
    ASSERT_TRUE(inst.wait_for_report("client", "notice=登录成功！\n", 15000)) << inst.errors("client");
    EXPECT_TRUE(inst.wait_for_report("client", "user_count=3\n", 5000)) << inst.report("client");
    EXPECT_TRUE(inst.wait_for_report("client", "user_added=100\n", 5000));
    EXPECT_TRUE(inst.wait_for_report("client", "user_added=200\n", 5000));
    EXPECT_TRUE(inst.wait_for_report("client", "notice=未检测到摄像头设备\n", 5000)) << "media start ran";
    std::optional<Packet> entered;
    while ((entered = teacher.wait_for(pkt::kUserEntered)))
        if (proto::UserBlock::decode(entered->payload.data(), entered->payload.size())->user_id == 12)
            break;
    EXPECT_TRUE(entered) << "the room saw the client arrive";

    // A public line from the teacher and a private one from the pupil.
    proto::ChatLine line;
    line.text = utf8_to_gbk("大家好");
    teacher.send(pkt::kChat, line.encode());
    line.text = utf8_to_gbk("悄悄话");
    line.private_flag = 1;
    line.target = 12;
    pupil.send(pkt::kChat, line.encode());
    EXPECT_TRUE(inst.wait_for_report("client", "chat=100>0:大家好\n", 5000)) << inst.report("client");
    EXPECT_TRUE(inst.wait_for_report("client", "chat=200>1:悄悄话\n", 5000)) << inst.report("client");

    // The host grants the right to speak; the client switches its microphone on.
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{12, 1}.encode());
    EXPECT_TRUE(inst.wait_for_report("client", "notice=申请发言审批通过\n", 5000)) << inst.report("client");
    EXPECT_TRUE(inst.wait_for_report("client", "notice=本地麦克风已开启\n", 5000)) << inst.report("client");
    std::optional<Packet> mic;
    while ((mic = teacher.wait_for(pkt::kMicrophoneState, 5000))) {
        auto m = proto::MicrophoneState::decode(mic->payload.data(), mic->payload.size());
        if (m->user_id == 12)
            break;
    }
    ASSERT_TRUE(mic) << "the room saw the client's microphone-on (type 12)";
    EXPECT_EQ(proto::MicrophoneState::decode(mic->payload.data(), mic->payload.size())->off, 0);

    // The pupil leaves.
    pupil.close();
    EXPECT_TRUE(inst.wait_for_report("client", "notice=小红已离开房间\n", 5000)) << inst.report("client");
    EXPECT_TRUE(inst.wait_for_report("client", "user_removed=200\n", 5000));
    EXPECT_TRUE(inst.wait_for_report("client", "user_count=2\n", 5000));

    // Closing the client closes its link, so the room sees it leave and its service ends.
    kill(client, SIGTERM);
    EXPECT_EQ(wait_process(client, 10000).value_or(-1), 0);
    std::optional<Packet> left;
    while ((left = teacher.wait_for(pkt::kUserLeft, 5000)))
        if (proto::UserLeft::decode(left->payload.data(), left->payload.size())->user_id == 12)
            break;
    EXPECT_TRUE(left) << "the room saw the client leave";
    EXPECT_TRUE(find_own_processes_by_exe(inst.folder() + "/velmor").empty())
        << "the service it started has ended";
    EXPECT_TRUE(process_running(server.pid())) << "the room server is not the client's to end";
}
