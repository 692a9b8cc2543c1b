// Users' own services (velmor relays with real sound) on different nodes of a cluster: the voice test's tone
// from a student on one node is heard by the teacher on another; a relay with a list of nodes finds a live
// one past a node that is not there and past one that refuses with 6, and after its node is killed.
#include <gtest/gtest.h>

#include <thread>

#include "cluster_env.h"
#include "local_service_process.h"
#include "room_peer.h"
#include "tone.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

namespace {

void microphone(RoomPeer& peer, bool on) {
    if (on)
        peer.send(pkt::kMicrophoneOn, proto::MicrophoneOn{uint32_t(-1)}.encode());
    else
        peer.send(pkt::kMicrophoneOff);
}

std::string at(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

// Logs in through a service, trying again (as the client does) while the answer is 6 or nothing.
int login_until_in(RoomPeer& peer, uint16_t service_port, uint32_t user, uint32_t room, int seconds = 15) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int r = -1;
    while (std::chrono::steady_clock::now() < end) {
        if (!peer.connect(service_port))
            return -1;
        r = login_peer(peer, user, room, proto::Login::kReconnectFlag);
        if (r == 0)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return r;
}

} // namespace

TEST(ClusterVoice, AToneFromAStudentOnOneNodeIsHeardByTheTeacherOnAnother) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    auto& a = env.start_node("a", "host 77 2\n");
    auto& b = env.start_node("b", "host 77 2\n");
    TonePlayer tone("quorin_mouth", 6000), keep_speaker_running("quorin_speaker", 0);
    LocalServiceProcess student_service(at(a.port()),
                                        {"PULSE_SOURCE=quorin_mouth.monitor", "PULSE_SINK=quorin_null"});
    LocalServiceProcess teacher_service(at(b.port()),
                                        {"PULSE_SOURCE=quorin_mic", "PULSE_SINK=quorin_speaker"});
    RoomPeer teacher, student;
    ASSERT_TRUE(teacher.connect(teacher_service.port()));
    ASSERT_EQ(login_peer(teacher, 2, 77), 0);
    ASSERT_TRUE(student.connect(student_service.port()));
    ASSERT_EQ(login_peer(student, 1, 77), 0);

    microphone(student, true);
    EXPECT_TRUE(silent()) << "no speak right, nothing heard";
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 1}.encode());
    ASSERT_TRUE(student.wait_for(pkt::kRightsChange, 5000));
    microphone(student, true);
    EXPECT_TRUE(hears_tone()) << "the tone crosses from node a to node b";
    teacher.send(pkt::kSpeakControl, proto::SpeakControl{1, 0}.encode());
    EXPECT_TRUE(falls_silent()) << "the right withdrawn on node b silences the student on node a";
}

TEST(ClusterVoice, ARelayWithAListOfNodesFindsOneThatServes) {
    ClusterEnv env;
    ASSERT_TRUE(env.ready());
    // Node "cut" has no NATS (a port where none listens) and refuses with 6.
    const ReservedPort no_nats, nobody_port;
    RoomServerProcess cut("velmor", "",
                          {"--node", "cut", "--cluster", "nats://127.0.0.1:" + std::to_string(no_nats.port()),
                           "--store", env.redis_url()});
    ASSERT_TRUE(wait_until_listening(cut.port()));
    auto& a = env.start_node("a");
    auto& b = env.start_node("b");
    const uint16_t nobody = nobody_port.port();
    LocalServiceProcess service(at(nobody) + "," + at(cut.port()) + "," + at(a.port()) + " " + at(b.port()),
                                {"PULSE_SOURCE=quorin_mic", "PULSE_SINK=quorin_null"});
    RoomPeer user;
    ASSERT_EQ(login_until_in(user, service.port(), 5, 40), 0) << "past a dead address and a refusing node";

    // Another user on b; the first user's node is killed: its service reaches b and both are in the room.
    RoomPeer other;
    ASSERT_TRUE(other.connect(b.port()));
    ASSERT_EQ(login_peer(other, 6, 40), 0);
    env.kill_node("a");
    EXPECT_TRUE(user.wait_closed(5000));
    ASSERT_EQ(login_until_in(user, service.port(), 5, 40), 0);
    bool sees_other = false;
    for (const Packet& p : user.drain(500))
        if (p.type == pkt::kUserPresent)
            if (auto blk = proto::UserBlock::decode(p.payload.data(), p.payload.size());
                blk && blk->user_id == 6)
                sees_other = true;
    EXPECT_TRUE(sees_other);
}
