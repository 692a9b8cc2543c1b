// A line with two faces typed into the chat input reaches another client's message log as two animated
// pictures: the input runs here (its packets go to the room server over a plain connection), the receiver is
// the built quorin with its own velmor relaying to the same room server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>

#include <signal.h>

#include "chat/CChatDlg.h"
#include "installation.h"
#include "platform/process.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "session/roster.h"
#include "session/user_record.h"
#include "session_doubles.h"
#include "skin/ClxStatic.h"
#include "wire/packet_types.h"

namespace {

// The chat input's send interface over a participant's own connection to the room server.
struct PeerLink : call_back {
    RoomPeer& peer;
    explicit PeerLink(RoomPeer& p) : peer(p) {}
    // Connected, allowed to chat; nobody to look up.
    int request(int type, void* data, int) override {
        if (type == kReqFindUserByNickname)
            static_cast<FindUserByNicknameRequest*>(data)->result = nullptr;
        return 1;
    }
    bool Send(uint16_t type, const proto::Bytes& payload) override { return peer.send(type, payload); }
};

// The chat input's send interface over the teacher's own connection, with the room's users as the session
// would know them.
struct TeacherLink : call_back {
    RoomPeer& peer;
    Roster roster;
    explicit TeacherLink(RoomPeer& p) : peer(p) {}
    int request(int type, void* data, int) override {
        if (type == kReqFindUser) {
            auto* r = static_cast<FindUserRequest*>(data);
            r->result = roster.FindById(r->user_id);
        } else if (type == kReqFindUserByNickname) {
            auto* r = static_cast<FindUserByNicknameRequest*>(data);
            r->result = roster.FindByName(r->nickname);
        }
        return 1;
    }
    bool Send(uint16_t type, const proto::Bytes& payload) override { return peer.send(type, payload); }
};

} // namespace

TEST(ChatEndToEnd, APrivateLineReachesTheChosenOfTwoStudentsOfOneName) {
    RoomServerProcess server("velmor",
                             utf8_to_gbk("user 100 王老师\nuser 201 小红\nuser 202 小红\nhost 7 100\n"));
    RoomPeer teacher, first, second;
    for (auto [peer, id] : {std::pair{&teacher, 100u}, std::pair{&first, 201u}, std::pair{&second, 202u}}) {
        ASSERT_TRUE(peer->connect(server.port()));
        ASSERT_EQ(login_peer(*peer, id, 7), 0);
    }
    TeacherLink link(teacher);
    RecordingActions actions(&link);
    CChatDlg chat(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    for (uint32_t id : {201u, 202u}) {
        proto::UserBlock b;
        b.user_id = id;
        b.rights = 66;
        b.nickname = utf8_to_gbk("小红");
        chat.AddRecipient(id, link.roster.Add(b).block.nickname);
    }
    chat.resize(408, 190);
    chat.show();
    chat.input()->setFocus();
    chat.recipients()->setCurrentIndex(2); // the second 小红
    chat.private_box()->setChecked(true);
    QTest::keyClicks(chat.input(), "only you");
    QTest::keyClick(chat.input(), Qt::Key_Return);

    auto got = second.wait_for(pkt::kChatMessage, 5000);
    ASSERT_TRUE(got) << "the student chosen gets the line";
    auto line = proto::ChatLine::decode(got->payload.data(), got->payload.size());
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text, "only you");
    EXPECT_EQ(line->sender, 100u);
    EXPECT_FALSE(first.wait_for(pkt::kChatMessage, 1000)) << "the other student of that name gets nothing";
}

TEST(ChatEndToEnd, TwoFacesTypedInOneClientAnimateInTheOther) {
    RoomServerProcess server("velmor",
                             utf8_to_gbk("user 100 王老师\nuser 200 小红\nuser 12 小明\nhost 7 100\n"));
    RoomPeer pupil;
    ASSERT_TRUE(pupil.connect(server.port()));
    ASSERT_EQ(login_peer(pupil, 200, 7), 0);

    Installation inst("[room]\nserver=127.0.0.1:" + std::to_string(server.port()) + "\n", true);
    pid_t client = inst.start("client", "userid=12&roomid=7", 60000);
    ASSERT_GT(client, 0);
    ClientReaper reaper{client, inst.folder()};
    ASSERT_TRUE(inst.wait_for_report("client", "notice=登录成功！\n", 15000)) << inst.errors("client");

    PeerLink link(pupil);
    RecordingActions actions(&link);
    CChatDlg chat(&link, &actions, QUORIN_INSTALL_DIR, nullptr);
    chat.resize(408, 190);
    chat.show();
    chat.input()->setFocus();
    QTest::keyClicks(chat.input(), "x");
    ASSERT_TRUE(chat.input()->InsertFace(7, true));
    ASSERT_TRUE(chat.input()->InsertFace(12, true));
    QTest::keyClicks(chat.input(), "y");
    QTest::keyClick(chat.input(), Qt::Key_Return);
    EXPECT_TRUE(chat.input()->toPlainText().isEmpty()) << "sent";

    EXPECT_TRUE(inst.wait_for_report("client", "chat=200>0:x[7][12]y\n", 5000)) << inst.report("client");
    EXPECT_TRUE(inst.wait_for_report("client", "chat_faces=2 animating=1\n", 5000)) << inst.report("client");
    kill(client, SIGTERM);
    EXPECT_EQ(wait_process(client, 10000).value_or(-1), 0);
}
