// A class recovers by itself: the room server is killed (kill -9) and started again on its port; the client
// (the built quorin with its relaying velmor) is back in the room soon after, with its roster, and a chat
// line sent after the recovery arrives; its camera is on again.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <set>

#include "installation.h"
#include "platform/text.h"
#include "room_peer.h"
#include "wire/protocol.h"

TEST(RecoveryEndToEnd, TheClassIsBackSoonAfterTheRoomServerRestarts) {
    TempDir room_dir;
    fs::copy_file(fs::path(QUORIN_INSTALL_DIR) / "velmor", room_dir.path() / "velmor");
    write_file(room_dir.file("users.txt"), utf8_to_gbk("user 100 王老师\nuser 12 小明\nhost 7 100\n"));
    // The room server is restarted on the same port.
    const ReservedPort reserved;
    const uint16_t port = reserved.port();
    const std::vector<std::string> args = {"--room-server", "--listen", "127.0.0.1:" + std::to_string(port),
                                           "--directory", room_dir.file("users.txt")};
    pid_t server = spawn_process(room_dir.file("velmor"), args, room_dir.path().string());
    ASSERT_TRUE(wait_until_listening(port));
    auto teacher = std::make_unique<RoomPeer>();
    ASSERT_TRUE(teacher->connect(port));
    ASSERT_EQ(login_peer(*teacher, 100, 7), 0);

    Installation inst("[media]\ntest_camera=1\n[room]\nserver=127.0.0.1:" + std::to_string(port) + "\n",
                      true);
    pid_t client = inst.start("client", "userid=12&roomid=7", 60000);
    ClientReaper reaper{client, inst.folder()};
    ASSERT_TRUE(inst.wait_for_report("client", "notice=登录成功！\n", 15000)) << inst.errors("client");
    ASSERT_TRUE(inst.wait_for_report("client", "user_count=2\n", 5000));

    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
    EXPECT_TRUE(teacher->wait_closed(3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // the class without its room server
    server = spawn_process(room_dir.file("velmor"), args, room_dir.path().string());
    const auto restarted = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_until_listening(port));
    teacher = std::make_unique<RoomPeer>();
    ASSERT_TRUE(teacher->connect(port));
    ASSERT_EQ(login_peer(*teacher, 100, 7), 0);

    // Back by itself: the time it takes is printed (a figure of the machine as much as of the client).
    bool back = false;
    while (!back && std::chrono::steady_clock::now() - restarted < std::chrono::seconds(60)) {
        back = count_of(inst.report("client"), "notice=登录成功！\n") >= 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - restarted).count();
    ASSERT_TRUE(back) << inst.report("client");
    std::printf("back in the room %.2f s after the room server's restart (goal: within 2 s)\n", seconds);
    // The roster is there again: the teacher is announced to the client.
    std::optional<Packet> entered;
    while ((entered = teacher->wait_for(pkt::kUserEntered, 3000)))
        if (proto::UserBlock::decode(entered->payload.data(), entered->payload.size())->user_id == 12)
            break;
    EXPECT_TRUE(entered);
    EXPECT_GE(count_of(inst.report("client"), "user_added=100\n"), 2u);
    // The camera is on again after the recovery, as the microphone is: its format is announced, never its
    // end.
    bool camera_on = false, camera_off = false;
    std::optional<Packet> state;
    while (!camera_on && (state = teacher->wait_for(pkt::kCameraState, 5000))) {
        auto s = proto::CameraState::decode(state->payload.data(), state->payload.size());
        if (s && s->user_id == 12) {
            camera_on = camera_on || s->stream.fourcc != 0;
            camera_off = camera_off || s->stream.fourcc == 0;
        }
    }
    EXPECT_TRUE(camera_on) << inst.report("client");
    EXPECT_FALSE(camera_off);

    proto::ChatLine line;
    line.text = utf8_to_gbk("继续上课");
    teacher->send(pkt::kChat, line.encode());
    EXPECT_TRUE(inst.wait_for_report("client", "chat=100>0:继续上课\n", 5000)) << inst.report("client");
    kill(client, SIGTERM);
    EXPECT_EQ(wait_process(client, 10000).value_or(-1), 0);
    terminate_process(server);
}

// A room server that stays down for a while: the client keeps its own service (which ends soon after its
// client leaves) and asks it again and again, waiting longer each time, saying that the room server is not
// there rather than that the service is; once the room server is up, the class starts.
TEST(RecoveryEndToEnd, ARoomServerThatIsDownForAWhileKeepsTheServiceAndIsJoinedOnceUp) {
    TempDir room_dir;
    fs::copy_file(fs::path(QUORIN_INSTALL_DIR) / "velmor", room_dir.path() / "velmor");
    // Nothing listens there until the room server comes.
    const ReservedPort reserved;
    const uint16_t port = reserved.port();
    Installation inst("[room]\nserver=127.0.0.1:" + std::to_string(port) + "\n", true);
    pid_t client = inst.start("client", "userid=12&roomid=7", 60000);
    ClientReaper reaper{client, inst.folder()};
    const std::string service_exe = inst.file("velmor");
    std::set<pid_t> services;
    // Long enough for waits longer than the service stays without a client.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    while (std::chrono::steady_clock::now() < until) {
        for (pid_t p : find_own_processes_by_exe(service_exe))
            services.insert(p);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string down = inst.report("client");
    EXPECT_EQ(services.size(), 1u) << "one service all along";
    EXPECT_EQ(down.find("notice=" + std::string("无法连接到服务程序")), std::string::npos) << down;
    EXPECT_NE(down.find("link_state=无法连接到课堂服务器"), std::string::npos) << down;

    pid_t server = spawn_process(room_dir.file("velmor"),
                                 {"--room-server", "--listen", "127.0.0.1:" + std::to_string(port)},
                                 room_dir.path().string());
    ASSERT_TRUE(wait_until_listening(port));
    EXPECT_TRUE(inst.wait_for_report("client", "notice=登录成功！\n", 15000)) << inst.report("client");
    kill(client, SIGTERM);
    EXPECT_EQ(wait_process(client, 10000).value_or(-1), 0);
    terminate_process(server);
}
