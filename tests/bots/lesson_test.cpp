// The scenario language with bad input, and a short lesson against a real room server: the scripted users
// join, chat with faces, send camera pictures when watched, grant a raised hand and answer a private line.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "bots/lesson_run.h"
#include "bots/scenario.h"
#include "chat/chat_codes.h"
#include "eventually.h"
#include "platform/text.h"
#include "room_peer.h"
#include "room_server_process.h"
#include "video/video_codec.h"
#include "wire/packet_types.h"
#include "wire/protocol.h"

TEST(Scenario, BadInputIsRefusedWithItsLineNumber) {
    const std::string head = "room 1 课\nuser 5 甲 host\nuser 6 乙\n";
    struct Case {
        std::string text, error;
    };
    const std::vector<Case> cases = {
        {"", "line 0: no room statement"},
        {"room 1 课\n", "line 0: no users"},
        {"room x 课\n", "line 1: room wants an id and a course name"},
        {head + "at 1 7 join\n", "line 4: unknown user '7' (name users before their actions)"},
        {head + "at -1 5 join\n", "line 4: at wants a time in seconds, a user and an action"},
        {head + "at 1 5 dance\n", "line 4: unknown action 'dance'"},
        {head + "at 1 5 say\n", "line 4: say wants a text"},
        {head + "at 1 5 camera maybe\n", "line 4: camera wants on or off"},
        {head + "at 1 5 whisper 9 hi\n", "line 4: unknown recipient '9'"},
        {head + "user 5 丙\n", "line 4: user 5 is named twice"},
        {head + "user 7 丙 host\n", "line 4: a room has one host"},
        {head + "user 7 丙 wings\n", "line 4: unknown user option 'wings'"},
        {head + "\n# fine\nbogus\n", "line 6: unknown statement 'bogus'"},
        {head + "at 5 5 join\nrepeat 3\n", "line 4: an action after the repeat time"},
        {head + "repeat 0.5\n", "line 4: repeat wants a time of at least one second"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(bots::parse_scenario(c.text, &error).has_value()) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
    std::string error;
    auto lesson = bots::parse_scenario(bots::lesson_scenario_text(), &error);
    ASSERT_TRUE(lesson.has_value()) << error;
    EXPECT_EQ(lesson->host()->nickname, "王老师");
    EXPECT_GE(lesson->users.size(), 5u);
}

TEST(Scenario, FacesInTexts) {
    auto pieces = bots::split_faces("你好[face 3][face 89]再见 [face 90] [face x]");
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[0].text, "你好");
    EXPECT_EQ(pieces[1].face, 3);
    EXPECT_EQ(pieces[2].face, 89);
    EXPECT_EQ(pieces[3].text, "再见 [face 90] [face x]") << "only faces that exist are faces";
}

TEST(Lesson, ASpokenLineIsSpeechOfAFewSecondsAtMost) {
    const auto speech = bots::speech_for("同学们好，今天我们学习分数的加法。");
    EXPECT_GT(speech.size(), size_t(48000)) << "a second or more of speech (or tones)";
    EXPECT_LE(speech.size(), size_t(48000 * 10));
    double energy = 0;
    for (int16_t v : speech)
        energy += double(v) * v;
    EXPECT_GT(std::sqrt(energy / double(speech.size())), 300) << "audible";
}

TEST(Lesson, ScriptedUsersPlayTheirPartsAndAnswerTheRoom) {
    RoomServerProcess server("velmor", "host 7 501\n");
    ASSERT_TRUE(wait_until_listening(server.port()));
    const std::string script = "room 7 测试课\n"
                               "user 501 林老师 host camera\n"
                               "user 502 周同学 camera tint=4\n"
                               "at 0.1 501 join\n"
                               "at 0.2 501 camera on\n"
                               "at 0.3 502 join\n"
                               "at 0.5 501 say 欢迎 [face 5][face 6]\n"
                               "at 0.8 502 whisper client 你好 [face 2]\n"
                               "repeat 60\n";
    std::string error;
    auto scenario = bots::parse_scenario(script, &error);
    ASSERT_TRUE(scenario.has_value()) << error;
    std::atomic<bool> stop{false};
    bots::LessonConfig config;
    config.port = server.port();
    config.client_user = 1001;
    config.stop = &stop;
    std::thread lesson([&] { EXPECT_TRUE(bots::run_lesson(*scenario, config, &error)) << error; });
    struct StopAtEnd {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~StopAtEnd() {
            stop = true;
            thread.join();
        }
    } stop_at_end{stop, lesson};

    RoomPeer me;
    ASSERT_TRUE(me.connect(server.port()));
    ASSERT_EQ(login_peer(me, 1001, 7), 0);
    // The greeting with its two faces, and the private line to this user.
    auto greeting = me.wait_for(pkt::kChatMessage, 5000);
    ASSERT_TRUE(greeting.has_value());
    auto line = proto::ChatLine::decode(greeting->payload.data(), greeting->payload.size());
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->sender, 501u);
    auto pieces = chat::Decode(reinterpret_cast<const uint8_t*>(line->text.data()), line->text.size());
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(gbk_to_utf8(pieces[0].text), "欢迎 ");
    EXPECT_EQ(pieces[1].face, 5);
    auto whisper = me.wait_for(pkt::kChatMessage, 5000);
    ASSERT_TRUE(whisper.has_value());
    line = proto::ChatLine::decode(whisper->payload.data(), whisper->payload.size());
    EXPECT_EQ(line->private_flag, 1);
    EXPECT_EQ(line->target, 1001u);

    // Watching the host's camera brings decodable pictures.
    me.send(pkt::kWatchVideo, proto::WatchVideo{501, 1}.encode());
    VideoDecoder decoder;
    ASSERT_TRUE(decoder.Open(kFourccXvid, 320, 240));
    int frames = 0, decoded = 0;
    const bool five_decoded = eventually(
        [&] {
            auto f = me.wait_for(pkt::kVideoFrame, 200);
            if (!f)
                return false;
            ++frames;
            auto frame = proto::VideoFrame::decode(f->payload.data(), f->payload.size());
            EXPECT_TRUE(frame.has_value()) << "a video frame that does not decode as one";
            if (!frame)
                return false;
            EXPECT_EQ(frame->user_id, 501u);
            if (decoder.Decode(frame->frame.data(), frame->frame.size(), frame->key_frame & 1))
                ++decoded;
            return decoded >= 5;
        },
        20000, 0);
    EXPECT_TRUE(five_decoded) << "the host sends video while watched: " << frames << " frames, " << decoded
                              << " decoded";

    // A raised hand is granted by the host after a while; a private line to a scripted user is answered.
    me.send(pkt::kSpeakRequest);
    auto grant = me.wait_for(pkt::kRightsChange, 5000);
    ASSERT_TRUE(grant.has_value());
    auto change = proto::RightsChange::decode(grant->payload.data(), grant->payload.size());
    EXPECT_EQ(change->user_id, 1001u);
    EXPECT_EQ(change->operation, pkt::kRightsAdd);
    proto::ChatLine question;
    question.target = 502;
    question.private_flag = 1;
    question.text = utf8_to_gbk("请问作业是什么？");
    me.send(pkt::kChat, question.encode());
    auto reply = me.wait_for(pkt::kChatMessage, 5000);
    ASSERT_TRUE(reply.has_value());
    line = proto::ChatLine::decode(reply->payload.data(), reply->payload.size());
    EXPECT_EQ(line->sender, 502u);
    EXPECT_EQ(line->private_flag, 1);
}
