// Three users in a room through the room server and a loopback web host: the client's tiles show the users'
// pictures from the web host, and when the host grants the right to speak to another user who then switches
// the microphone on, the client's tile of that user shows its microphone on.
#include <gtest/gtest.h>

#include <signal.h>

#include "installation.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "web_host.h"
#include "wire/protocol.h"

TEST(RosterEndToEnd, PicturesFromTheWebHostAndAGrantSeenByAnotherClient) {
    TestWebHost web;
    RoomServerProcess server("velmor",
                             utf8_to_gbk("user 100 王老师\nuser 200 小红\nuser 12 小明\nhost 7 100\n"));
    RoomPeer teacher, pupil;
    ASSERT_TRUE(teacher.connect(server.port()));
    ASSERT_EQ(login_peer(teacher, 100, 7), 0);
    ASSERT_TRUE(pupil.connect(server.port()));
    ASSERT_EQ(login_peer(pupil, 200, 7), 0);

    Installation inst("[room]\nserver=127.0.0.1:" + std::to_string(server.port()) +
                          "\n[web]\nhost=" + web.base() + "\n",
                      true);
    pid_t client = inst.start("client", "userid=12&roomid=7", 60000);
    ASSERT_GT(client, 0);
    ClientReaper reaper{client, inst.folder()};
    ASSERT_TRUE(inst.wait_for_report("client", "notice=登录成功！\n", 15000)) << inst.errors("client");
    // Arrival order: the client itself, then the users already there.
    for (const char* line :
         {"tile_filled=0 12 picture\n", "tile_filled=1 100 picture\n", "tile_filled=2 200 picture\n"})
        EXPECT_TRUE(inst.wait_for_report("client", line, 10000)) << line << inst.report("client");
    EXPECT_GE(web.requests(), 3);
    EXPECT_TRUE(fs::exists(fs::path(inst.folder()) / "timage" / "200"));

    // The host grants the pupil the right to speak; the pupil switches the microphone on.
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{200, 1}.encode());
    ASSERT_TRUE(pupil.wait_for(pkt::kRightsChange));
    pupil.send(pkt::kMicrophoneOn, proto::MicrophoneOn{0}.encode());
    EXPECT_TRUE(inst.wait_for_report("client", "tile=200 mic=1 video=0 hand=0 host=0\n", 5000))
        << inst.report("client");
    kill(client, SIGTERM);
    EXPECT_EQ(wait_process(client, 10000).value_or(-1), 0);
}
