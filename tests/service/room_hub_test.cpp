// The room's rules with two and three participants, driven through the hub with real packets.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <map>

#include "service/room_hub.h"
#include "wire/framing.h"

using namespace proto;
using room::ConnId;
using room::Outgoing;

namespace {

class Hub {
public:
    explicit Hub(room::HubConfig config = {}) : hub_(with_log(std::move(config))) {}

    std::vector<Outgoing> send(ConnId c, uint16_t type, const Bytes& payload = {}) {
        return hub_.on_packet(c, type, payload.data(), payload.size());
    }
    std::vector<Outgoing> join(ConnId c, uint32_t user, uint32_t room_id = 7, uint32_t flags = 0,
                               std::optional<std::array<uint8_t, 16>> token = std::nullopt) {
        hub_.on_connect(c, inet_addr("127.0.0.1"), uint16_t(40000 + c));
        Login l;
        l.user_id = user;
        l.room_id = room_id;
        l.flags = flags;
        l.token = token;
        auto out = send(c, pkt::kLogin, l.encode());
        for (const auto& o : out)
            if (o.to == c && o.type == pkt::kSessionToken)
                tokens[c] = SessionToken::decode(o.payload.data(), o.payload.size())->token;
        return out;
    }
    std::map<ConnId, std::array<uint8_t, 16>> tokens; // each session's, from its login
    room::RoomHub& hub() { return hub_; }
    std::vector<std::string> log;

private:
    room::HubConfig with_log(room::HubConfig c) {
        c.log = [this](const std::string& s) { log.push_back(s); };
        return c;
    }
    room::RoomHub hub_;
};

std::vector<Outgoing> to(const std::vector<Outgoing>& out, ConnId c) {
    std::vector<Outgoing> r;
    for (const auto& o : out)
        if (o.to == c)
            r.push_back(o);
    return r;
}
std::vector<uint16_t> types(const std::vector<Outgoing>& out) {
    std::vector<uint16_t> t;
    for (const auto& o : out)
        t.push_back(o.type);
    return t;
}

} // namespace

TEST(RoomHub, LoginAnswersThenAnnouncesThenStartsMedia) {
    Hub h;
    auto first = h.join(1, 100);
    ASSERT_EQ(types(first), (std::vector<uint16_t>{pkt::kLoginResult, pkt::kSessionToken, pkt::kMediaStart}));
    auto r = LoginResult::decode(first[0].payload.data(), first[0].payload.size());
    EXPECT_EQ(r->result, 0u);
    EXPECT_EQ(r->rights, room::kHostRights) << "first user of a room without directory is its host";
    EXPECT_EQ(r->nickname, "\xD3\xC3\xBB\xA7"
                           "100");
    EXPECT_EQ(r->port, 40001);

    h.join(2, 200);
    auto third = h.join(3, 300);
    auto mine = to(third, 3);
    ASSERT_EQ(types(mine), (std::vector<uint16_t>{pkt::kLoginResult, pkt::kSessionToken, pkt::kUserPresent,
                                                  pkt::kUserPresent, pkt::kMediaStart}));
    EXPECT_EQ(LoginResult::decode(mine[0].payload.data(), 46)->rights, room::kGuestRights);
    EXPECT_EQ(UserBlock::decode(mine[2].payload.data(), 54)->user_id, 100u);
    EXPECT_EQ(UserBlock::decode(mine[2].payload.data(), 54)->rights, room::kHostRights);
    EXPECT_EQ(UserBlock::decode(mine[3].payload.data(), 54)->user_id, 200u);
    EXPECT_NE(h.tokens[1], h.tokens[3]) << "every session has a token of its own";
    for (ConnId other : {1, 2}) {
        auto theirs = to(third, other);
        ASSERT_EQ(types(theirs), (std::vector<uint16_t>{pkt::kUserEntered}));
        EXPECT_EQ(UserBlock::decode(theirs[0].payload.data(), 54)->user_id, 300u);
    }
}

TEST(RoomHub, DirectoryNamesUsersAndTheHost) {
    room::HubConfig c;
    c.directory.set_nickname(200, "\xC0\xCF\xCA\xA6"); // 老师
    c.directory.set_host(7, 200);
    Hub h(std::move(c));
    auto a = h.join(1, 100);
    EXPECT_EQ(LoginResult::decode(a[0].payload.data(), 46)->rights, room::kGuestRights);
    auto b = h.join(2, 200);
    auto r = LoginResult::decode(b[0].payload.data(), 46);
    EXPECT_EQ(r->rights, room::kHostRights);
    EXPECT_EQ(r->nickname, "\xC0\xCF\xCA\xA6");
}

TEST(RoomHub, KeyCheckAndSecondLogin) {
    room::HubConfig c;
    c.secret = "s3cret";
    c.now_unix_ms = [] { return int64_t(1700000000123LL + 5000); };
    Hub h(std::move(c));
    h.hub().on_connect(1, 0, 0);
    Login bad;
    bad.user_id = 100;
    bad.room_id = 7;
    bad.timestamp = 1700000000123LL;
    auto out = h.send(1, pkt::kLogin, bad.encode());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(LoginResult::decode(out[0].payload.data(), 46)->result, room::kLoginBadKey);

    Login good = bad;
    good.key = room::expected_key("s3cret", 100, 7, 1700000000123LL);
    out = h.send(1, pkt::kLogin, good.encode());
    EXPECT_EQ(LoginResult::decode(out[0].payload.data(), 46)->result, room::kLoginOk);

    h.hub().on_connect(2, 0, 0);
    out = h.send(2, pkt::kLogin, good.encode());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(LoginResult::decode(out[0].payload.data(), 46)->result, room::kLoginAlreadyIn);
}

TEST(RoomHub, ReconnectLoginTakesTheSeatOver) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    auto out = h.join(3, 200, 7, Login::kReconnectFlag, h.tokens[2]);
    bool closes_old = false;
    for (const auto& o : out)
        closes_old = closes_old || (o.to == 2 && o.close);
    EXPECT_TRUE(closes_old);
    auto to_host = to(out, 1);
    ASSERT_EQ(types(to_host), (std::vector<uint16_t>{pkt::kUserLeft, pkt::kUserEntered}));
    EXPECT_EQ(LoginResult::decode(to(out, 3)[0].payload.data(), 46)->result, 0u);
}

TEST(RoomHub, PublicAndPrivateChat) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.join(3, 300);
    ChatLine line;
    line.sender = 999; // a lie the room corrects
    line.text = "hello all";
    auto out = h.send(2, pkt::kChat, line.encode());
    ASSERT_EQ(out.size(), 2u);
    for (const auto& o : out) {
        EXPECT_NE(o.to, 2u);
        EXPECT_EQ(o.type, pkt::kChatMessage);
        auto d = ChatLine::decode(o.payload.data(), o.payload.size());
        EXPECT_EQ(d->sender, 200u);
        EXPECT_EQ(d->text, "hello all");
    }
    line.private_flag = 1;
    line.target = 300;
    line.text = "psst";
    out = h.send(1, pkt::kChat, line.encode());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].to, 3u);
    EXPECT_EQ(ChatLine::decode(out[0].payload.data(), out[0].payload.size())->private_flag, 1);
    line.target = 555; // not in the room
    EXPECT_TRUE(h.send(1, pkt::kChat, line.encode()).empty());
}

TEST(RoomHub, WatchingDecidesWhoGetsVideo) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.join(3, 300);
    VideoFrame f;
    f.frame = {1, 2, 3};
    EXPECT_TRUE(h.send(2, pkt::kVideoFrame, f.encode()).empty()) << "nobody watches yet";

    auto out = h.send(1, pkt::kWatchVideo, WatchVideo{200, 1}.encode());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].to, 2u);
    EXPECT_EQ(out[0].type, pkt::kVideoWanted);
    EXPECT_EQ(VideoWanted::decode(out[0].payload.data(), 2)->wanted, 1);
    EXPECT_TRUE(h.send(3, pkt::kWatchVideo, WatchVideo{200, 1}.encode()).empty()) << "already wanted";

    out = h.send(2, pkt::kVideoFrame, f.encode());
    ASSERT_EQ(out.size(), 2u);
    auto d = VideoFrame::decode(out[0].payload.data(), out[0].payload.size());
    EXPECT_EQ(d->user_id, 200u);
    EXPECT_EQ(d->room_id, 7u);
    EXPECT_EQ(d->frame, f.frame);

    EXPECT_TRUE(h.send(1, pkt::kWatchVideo, WatchVideo{200, 0}.encode()).empty());
    out = h.send(3, pkt::kWatchVideo, WatchVideo{200, 0}.encode());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(VideoWanted::decode(out[0].payload.data(), 2)->wanted, 0);
    EXPECT_TRUE(h.send(2, pkt::kVideoFrame, f.encode()).empty());
}

TEST(RoomHub, SpeakRequestGrantAndWithdraw) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.join(3, 300);
    auto out = h.send(2, pkt::kSpeakRequest);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].to, 1u);
    EXPECT_EQ(SpeakRequest::decode(out[0].payload.data(), 4)->user_id, 200u);

    EXPECT_TRUE(h.send(2, pkt::kMicrophoneOn, MicrophoneOn{0}.encode()).empty()) << "no right to speak yet";
    EXPECT_TRUE(h.send(3, pkt::kSpeakControl, SpeakControl{200, 1}.encode()).empty()) << "not the host";

    out = h.send(1, pkt::kSpeakControl, SpeakControl{200, 1}.encode());
    ASSERT_EQ(out.size(), 3u) << "every user hears of the change";
    auto r = RightsChange::decode(out[0].payload.data(), 16);
    EXPECT_EQ(r->user_id, 200u);
    EXPECT_EQ(r->rights, uint32_t(pkt::kRightSpeak));
    EXPECT_EQ(r->operation, pkt::kRightsAdd);
    EXPECT_EQ(*h.hub().rights_of(7, 200), room::kGuestRights | pkt::kRightSpeak);

    out = h.send(2, pkt::kMicrophoneOn, MicrophoneOn{0}.encode());
    ASSERT_EQ(out.size(), 2u);
    auto m = MicrophoneState::decode(out[0].payload.data(), 6);
    EXPECT_EQ(m->user_id, 200u);
    EXPECT_EQ(m->device, 1);
    EXPECT_EQ(m->off, 0);

    out = h.send(1, pkt::kSpeakControl, SpeakControl{200, 0}.encode());
    EXPECT_EQ(RightsChange::decode(out[0].payload.data(), 16)->operation, pkt::kRightsRemove);
    EXPECT_TRUE(h.send(2, pkt::kMicrophoneOn, MicrophoneOn{0}.encode()).empty());
    out = h.send(2, pkt::kMicrophoneOff);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(MicrophoneState::decode(out[0].payload.data(), 6)->off, 1);
}

TEST(RoomHub, SpeakRequestWithTheHostAwayGoesNowhere) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.hub().on_disconnect(1);
    EXPECT_TRUE(h.send(2, pkt::kSpeakRequest).empty());
}

TEST(RoomHub, LeavingTellsTheOthersAndDropsWatches) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.join(3, 300);
    h.send(2, pkt::kWatchVideo, WatchVideo{300, 1}.encode());
    auto out = h.hub().on_disconnect(2);
    auto to3 = to(out, 3);
    ASSERT_EQ(types(to3), (std::vector<uint16_t>{pkt::kVideoWanted, pkt::kUserLeft}));
    EXPECT_EQ(VideoWanted::decode(to3[0].payload.data(), 2)->wanted, 0);
    auto left = UserLeft::decode(to3[1].payload.data(), 12);
    EXPECT_EQ(left->user_id, 200u);
    EXPECT_NE(left->ended_by, 1u);
    EXPECT_EQ(types(to(out, 1)), (std::vector<uint16_t>{pkt::kUserLeft}));
    EXPECT_TRUE(h.hub().watchers_of(7, 300).empty());
}

TEST(RoomHub, CameraStateGoesToOthersWithIdsFilledIn) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    auto out = h.send(2, pkt::kCameraState, CameraState{0, 0, {0x44495658, 320, 240, 24}}.encode());
    ASSERT_EQ(out.size(), 1u);
    auto c = CameraState::decode(out[0].payload.data(), 18);
    EXPECT_EQ(c->user_id, 200u);
    EXPECT_EQ(c->room_id, 7u);
    // A late joiner sees the camera in the user block.
    auto late = h.join(3, 300);
    auto present = to(late, 3);
    EXPECT_EQ(UserBlock::decode(present[3].payload.data(), 54)->stream.width, 320);
}

TEST(RoomHub, BadPacketsAreDroppedAndReported) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    EXPECT_TRUE(h.send(2, pkt::kSpeakControl, Bytes(5, 0)).empty());
    EXPECT_TRUE(h.send(2, 4242, Bytes(3, 0)).empty());
    EXPECT_TRUE(h.send(2, pkt::kLoginResult, Bytes(46, 0)).empty());
    h.hub().on_connect(9, 0, 0);
    auto before_login = h.send(9, pkt::kChat, ChatLine{}.encode());
    ASSERT_EQ(before_login.size(), 1u);
    EXPECT_TRUE(before_login[0].close) << "a rule broken before the login closes the connection";
    EXPECT_TRUE(h.send(77, pkt::kChat, ChatLine{}.encode()).empty()) << "unknown connection";
    // Three drops of logged-in users; the connections without a login share one line a second.
    EXPECT_GE(h.log.size(), 4u);
    // The room still works.
    EXPECT_EQ(h.send(2, pkt::kSpeakRequest).size(), 1u);
}

// Keys are good only near their time stamp (seconds or milliseconds), both ways.
TEST(RoomHubGuard, KeysOutsideTheirWindowAreRefused) {
    const int64_t now_s = 1800000000;
    const struct {
        int64_t stamp;
        uint32_t result;
    } rows[] = {{now_s, room::kLoginOk},
                {now_s - 9 * 60, room::kLoginOk},
                {(now_s + 9 * 60) * 1000, room::kLoginOk},
                {now_s - 11 * 60, room::kLoginStaleKey},
                {(now_s + 11 * 60) * 1000, room::kLoginStaleKey},
                {0, room::kLoginStaleKey},
                {4102444800LL, room::kLoginStaleKey}}; // 1970 and 2100
    ConnId id = 1;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.stamp);
        room::HubConfig c;
        c.secret = "s3cret";
        c.now_unix_ms = [now_s] { return now_s * 1000; };
        Hub h(std::move(c));
        h.hub().on_connect(id, 0, 0);
        Login l;
        l.user_id = 100;
        l.room_id = 7;
        l.timestamp = r.stamp;
        l.key = room::expected_key("s3cret", 100, 7, r.stamp);
        auto out = h.send(id, pkt::kLogin, l.encode());
        EXPECT_EQ(LoginResult::decode(out[0].payload.data(), 46)->result, r.result);
        ++id;
    }
}

// A reconnect takes a seat over only with the session's token (from any address: a laptop changes its
// network), and the session pushed out is told why. Without tokens (the local service's own room) the
// same address is the proof.
TEST(RoomHubGuard, TakeoverOnlyWithTheSessionsTokenAndThePushedOutSessionIsTold) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    auto out = h.join(3, 200, 7, Login::kReconnectFlag);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(LoginResult::decode(out[0].payload.data(), 46)->result, room::kLoginAlreadyIn)
        << "the same address without the token cannot take the seat";
    out = h.join(3, 200, 7, Login::kReconnectFlag, h.tokens[1]);
    EXPECT_EQ(LoginResult::decode(out[0].payload.data(), 46)->result, room::kLoginAlreadyIn)
        << "nor with another session's token";
    h.hub().on_connect(4, inet_addr("10.9.9.9"), 5000);
    Login l;
    l.user_id = 200;
    l.room_id = 7;
    l.flags = Login::kReconnectFlag;
    l.token = h.tokens[2];
    out = h.send(4, pkt::kLogin, l.encode());
    auto to_old = to(out, 2);
    ASSERT_EQ(to_old.size(), 3u);
    EXPECT_EQ(to_old[0].type, pkt::kSystemText);
    EXPECT_EQ(SystemText::decode(to_old[0].payload.data(), to_old[0].payload.size())->text,
              "\xC4\xFA\xB5\xC4\xD5\xCA\xBA\xC5\xD2\xD1\xD4\xDA\xB1\xF0\xB4\xA6\xB5\xC7\xC2\xBC");
    EXPECT_EQ(LoginResult::decode(to_old[1].payload.data(), 46)->result, room::kLoginAlreadyIn);
    EXPECT_TRUE(to_old[2].close);
    EXPECT_EQ(LoginResult::decode(to(out, 4)[0].payload.data(), 46)->result, 0u);

    room::HubConfig own;
    own.session_tokens = false;
    Hub local(std::move(own));
    local.join(1, 200);
    EXPECT_TRUE(local.tokens.empty()) << "no tokens in the local service's own room";
    out = local.join(2, 200, 7, Login::kReconnectFlag);
    EXPECT_EQ(LoginResult::decode(to(out, 2)[0].payload.data(), 46)->result, 0u);
    local.hub().on_connect(3, inet_addr("10.9.9.9"), 5000);
    l.token.reset();
    out = local.send(3, pkt::kLogin, l.encode());
    EXPECT_EQ(LoginResult::decode(out[0].payload.data(), 46)->result, room::kLoginAlreadyIn);
}

// Every new watcher of a camera asks its sender for a key frame (type 26 with 1), at most once a second; a
// watcher who comes sooner is served at the sender's next frame after that second.
TEST(RoomHubGuard, EveryNewWatcherAsksForAKeyFrameWithinTheLimit) {
    int64_t now = 1000;
    room::HubConfig c;
    c.now_steady_ms = [&now] { return now; };
    Hub h(std::move(c));
    h.join(1, 100);
    for (ConnId id = 2; id <= 4; ++id)
        h.join(id, uint32_t(100 * id));
    auto wanted = [](const std::vector<Outgoing>& out) {
        int n = 0;
        for (const auto& o : to(out, 1))
            n += o.type == pkt::kVideoWanted && VideoWanted::decode(o.payload.data(), 2)->wanted == 1;
        return n;
    };
    EXPECT_EQ(wanted(h.send(2, pkt::kWatchVideo, WatchVideo{100, 1}.encode())), 1) << "the first watcher";
    now += 1500;
    EXPECT_EQ(wanted(h.send(3, pkt::kWatchVideo, WatchVideo{100, 1}.encode())), 1) << "a second one";
    EXPECT_EQ(wanted(h.send(3, pkt::kWatchVideo, WatchVideo{100, 1}.encode())), 0) << "no new watcher";
    now += 100;
    EXPECT_EQ(wanted(h.send(4, pkt::kWatchVideo, WatchVideo{100, 1}.encode())), 0) << "limited";
    VideoFrame f;
    f.frame = {1, 2, 3};
    const Bytes frame = f.encode();
    EXPECT_EQ(wanted(h.send(1, pkt::kVideoFrame, frame)), 0);
    now += 1000;
    auto out = h.send(1, pkt::kVideoFrame, frame);
    EXPECT_EQ(wanted(out), 1) << "owed, at the next frame after the limit";
    EXPECT_EQ(to(out, 4).size(), 1u) << "the frame still goes";
    now += 2000;
    EXPECT_EQ(wanted(h.send(1, pkt::kVideoFrame, frame)), 0) << "paid";
}

TEST(RoomHubGuard, BrokenRulesCloseAndTheirLogLinesAreLimited) {
    int64_t now = 0;
    room::HubConfig c;
    c.now_steady_ms = [&now] { return now; };
    Hub h(std::move(c));
    h.join(1, 100);
    h.join(2, 200);
    h.log.clear();
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(h.send(2, 4242, Bytes(3, 0)).empty()) << i;
    EXPECT_EQ(h.log.size(), 1u) << "one line a second, however many packets";
    now = 1500;
    auto out = h.send(2, 4242, Bytes(3, 0));
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.back().close) << "the eleventh broken rule closes the connection";
    EXPECT_NE(h.log[1].find("(and 9 more)"), std::string::npos) << h.log[1];
    EXPECT_EQ(types(to(out, 1)), std::vector<uint16_t>{pkt::kUserLeft});
    EXPECT_FALSE(h.hub().logged_in(2));
}

TEST(RoomHubGuard, ChatSizeAndRateAndVideoRate) {
    int64_t now = 0;
    room::HubConfig c;
    c.now_steady_ms = [&now] { return now; };
    Hub h(std::move(c));
    h.join(1, 100);
    h.join(2, 200);
    ChatLine line;
    line.text = std::string(4096, 'x');
    EXPECT_TRUE(h.send(2, pkt::kChat, line.encode()).empty())
        << "4096 bytes of text and a terminator: too long";
    line.text = std::string(4095, 'x');
    EXPECT_EQ(h.send(2, pkt::kChat, line.encode()).size(), 1u) << "4096 with the terminator goes";
    line.text = "hi";
    int delivered = 1;
    for (int i = 0; i < 20; ++i)
        delivered += int(h.send(2, pkt::kChat, line.encode()).size());
    EXPECT_EQ(delivered, 10) << "a burst of ten lines";
    now += 1000;
    for (int i = 0; i < 20; ++i)
        delivered += int(h.send(2, pkt::kChat, line.encode()).size());
    EXPECT_EQ(delivered, 15) << "then five a second";
    EXPECT_TRUE(h.hub().logged_in(2)) << "being fast is not a broken rule";

    h.send(1, pkt::kWatchVideo, WatchVideo{200, 1}.encode());
    VideoFrame f;
    f.frame = {1, 2, 3};
    int frames = 0;
    for (int i = 0; i < 100; ++i)
        frames += int(h.send(2, pkt::kVideoFrame, f.encode()).size());
    EXPECT_EQ(frames, 60);
}

// The host takes the right to chat away and gives it back; the room enforces it in between.
TEST(RoomHubGuard, TheHostTakesAndGivesTheChatRight) {
    Hub h;
    h.join(1, 100); // host
    h.join(2, 200);
    h.join(3, 300);
    ChatLine line;
    line.text = "hi";
    EXPECT_EQ(h.send(2, pkt::kChat, line.encode()).size(), 2u);
    auto out =
        h.send(1, pkt::kRightsChange, RightsChange{200, pkt::kRightChat, pkt::kRightsRemove, 0}.encode());
    EXPECT_EQ(out.size(), 3u) << "everybody hears of it";
    EXPECT_EQ(h.hub().rights_of(7, 200).value() & pkt::kRightChat, 0u);
    EXPECT_TRUE(h.send(2, pkt::kChat, line.encode()).empty()) << "no chat without the right";
    EXPECT_TRUE(h.send(3, pkt::kRightsChange, RightsChange{200, pkt::kRightChat, pkt::kRightsAdd, 0}.encode())
                    .empty())
        << "only the host";
    EXPECT_TRUE(h.send(1, pkt::kRightsChange, RightsChange{200, pkt::kRightHost, pkt::kRightsAdd, 0}.encode())
                    .empty())
        << "only the chat right travels this way";
    h.send(1, pkt::kRightsChange, RightsChange{200, pkt::kRightChat, pkt::kRightsAdd, 0}.encode());
    EXPECT_EQ(h.send(2, pkt::kChat, line.encode()).size(), 2u);
}

// Voice goes to everyone else in the room, stamped with the speaker's id, only while the speaker may speak
// and has the microphone on; other voice is dropped without counting against the connection.
TEST(RoomHub, VoiceOnlyFromASpeakerWithTheRightAndTheMicrophone) {
    Hub h;
    h.join(1, 100); // host
    h.join(2, 200);
    h.join(3, 300);
    h.join(4, 400, 8); // another room
    const Bytes voice = VoicePacket{999, 5, 123, {0x78, 0x01, 0x02}}.encode();
    auto heard = [&](ConnId from) {
        std::vector<ConnId> who;
        for (const auto& o : h.send(from, pkt::kVoice, voice)) {
            EXPECT_EQ(o.type, pkt::kVoice);
            auto v = VoicePacket::decode(o.payload.data(), o.payload.size());
            EXPECT_TRUE(v && v->sequence == 5 && v->opus.size() == 3);
            EXPECT_NE(v ? v->user_id : 999u, 999u) << "the sender's id is the room's, not the packet's";
            who.push_back(o.to);
        }
        return who;
    };
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(heard(2).empty()) << "no speak right";
    h.send(1, pkt::kSpeakControl, SpeakControl{200, 1}.encode());
    EXPECT_TRUE(heard(2).empty()) << "the right, but the microphone is off";
    h.send(2, pkt::kMicrophoneOn, MicrophoneOn{0}.encode());
    EXPECT_EQ(heard(2), (std::vector<ConnId>{1, 3}));
    h.send(1, pkt::kMicrophoneOn, MicrophoneOn{0}.encode());
    EXPECT_EQ(heard(1), (std::vector<ConnId>{2, 3})) << "the host speaks too";
    h.send(1, pkt::kSpeakControl, SpeakControl{200, 0}.encode());
    EXPECT_TRUE(heard(2).empty()) << "the right withdrawn";
    EXPECT_TRUE(h.hub().logged_in(2)) << "voice in flight after a withdrawal is not a broken rule";
    // A voice packet without Opus bytes is refused by its layout.
    const Bytes empty = VoicePacket{0, 1, 1, {}}.encode();
    EXPECT_TRUE(h.send(1, pkt::kVoice, empty).empty());
    // So is one larger than an Opus frame can be; the largest goes on byte for byte, the speaker's id in
    // front.
    const VoicePacket largest{0, 9, 77, Bytes(VoicePacket::kMaxOpus, 0x5A)};
    Bytes oversized = largest.encode();
    oversized.push_back(0);
    EXPECT_TRUE(h.send(1, pkt::kVoice, oversized).empty());
    auto out = h.send(1, pkt::kVoice, largest.encode());
    ASSERT_EQ(out.size(), 2u);
    VoicePacket stamped = largest;
    stamped.user_id = 100;
    EXPECT_EQ(Bytes(out[0].payload.data(), out[0].payload.data() + out[0].payload.size()), stamped.encode());
    ASSERT_TRUE(out[0].payload.frame(pkt::kVoice));
    EXPECT_EQ(*out[0].payload.frame(pkt::kVoice), framing::make_frame(pkt::kVoice, stamped.encode()));
}

TEST(RoomHub, RaisedHandsQueueInOrderAndComeBackToAReturningHost) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.join(3, 300);
    h.join(4, 400);
    h.send(3, pkt::kSpeakRequest);
    h.send(2, pkt::kSpeakRequest);
    h.send(4, pkt::kSpeakRequest);
    h.send(3, pkt::kSpeakRequest); // again while up: keeps its place
    EXPECT_EQ(h.hub().hands_of(7), (std::vector<uint32_t>{300, 200, 400}));
    EXPECT_TRUE(h.send(1, pkt::kSpeakRequest).empty()) << "the host raises no hand";

    // 200 lowers the hand: the host hears who.
    auto out = h.send(2, pkt::kHandLowered);
    ASSERT_EQ(types(out), (std::vector<uint16_t>{pkt::kHandLowered}));
    EXPECT_EQ(out[0].to, 1u);
    EXPECT_EQ(UserRef::decode(out[0].payload.data(), out[0].payload.size())->user_id, 200u);
    EXPECT_TRUE(h.send(2, pkt::kHandLowered).empty()) << "a hand that is down goes down once";
    // A grant lowers the hand; a user who leaves takes the hand along.
    h.send(1, pkt::kSpeakControl, SpeakControl{300, 1}.encode());
    EXPECT_EQ(h.hub().hands_of(7), (std::vector<uint32_t>{400}));
    h.send(2, pkt::kSpeakRequest);
    EXPECT_EQ(h.hub().hands_of(7), (std::vector<uint32_t>{400, 200}));

    // The host leaves and comes back: the hands that are up arrive again, oldest first, after the users.
    h.hub().on_disconnect(1);
    auto back = to(h.join(5, 100), 5);
    std::vector<uint32_t> asked;
    size_t last_present = 0, first_hand = back.size();
    for (size_t i = 0; i < back.size(); ++i) {
        if (back[i].type == pkt::kUserPresent)
            last_present = i;
        if (back[i].type == pkt::kSpeakRequest) {
            first_hand = std::min(first_hand, i);
            asked.push_back(SpeakRequest::decode(back[i].payload.data(), 4)->user_id);
        }
    }
    EXPECT_EQ(asked, (std::vector<uint32_t>{400, 200}));
    EXPECT_LT(last_present, first_hand) << "the host knows the users before their hands";
    h.hub().on_disconnect(4);
    EXPECT_EQ(h.hub().hands_of(7), (std::vector<uint32_t>{200}));
}

TEST(RoomHub, TheHostRemovesAUserWhoIsToldWhyAndClosed) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.join(3, 300);
    h.send(2, pkt::kSpeakRequest);
    EXPECT_TRUE(h.send(3, pkt::kRemoveUser, UserRef{200}.encode()).empty()) << "only the host removes";
    EXPECT_TRUE(h.hub().logged_in(2));

    auto out = h.send(1, pkt::kRemoveUser, UserRef{200}.encode());
    auto mine = to(out, 2);
    ASSERT_EQ(types(mine), (std::vector<uint16_t>{pkt::kSystemText, pkt::kLoginResult, 0}));
    EXPECT_EQ(SystemText::decode(mine[0].payload.data(), mine[0].payload.size())->text,
              "\xC4\xE3\xD2\xD1\xB1\xBB\xB7\xA2\xC6\xF0\xC8\xCB\xD2\xC6\xB3\xF6\xBF\xCE\xCC\xC3");
    EXPECT_EQ(LoginResult::decode(mine[1].payload.data(), mine[1].payload.size())->result,
              uint32_t(room::kLoginRemoved));
    EXPECT_TRUE(mine[2].close);
    for (ConnId other : {1, 3}) {
        auto theirs = to(out, other);
        ASSERT_EQ(types(theirs), (std::vector<uint16_t>{pkt::kUserLeft})) << other;
        auto left = UserLeft::decode(theirs[0].payload.data(), theirs[0].payload.size());
        EXPECT_EQ(left->user_id, 200u);
        EXPECT_EQ(left->ended_by, 1u) << "ended by the server";
    }
    EXPECT_FALSE(h.hub().rights_of(7, 200));
    EXPECT_TRUE(h.hub().hands_of(7).empty()) << "the removed user's hand is gone";

    // The host cannot remove itself; an unknown user is nothing to do.
    EXPECT_TRUE(h.send(1, pkt::kRemoveUser, UserRef{100}.encode()).empty());
    EXPECT_TRUE(h.hub().logged_in(1));
    EXPECT_TRUE(h.send(1, pkt::kRemoveUser, UserRef{999}.encode()).empty());
    // A speaker level is the local service's business: the room ignores it without counting it against
    // anybody.
    EXPECT_TRUE(h.send(3, pkt::kSpeakerVolume, SpeakerVolume{100, 50}.encode()).empty());
}

// What a newcomer is told of each member is that member's block as it is now (state bits cleared), however
// often the block changed since the last newcomer; every user-present packet carries its whole frame.
TEST(RoomHub, NewcomersLearnEveryMemberAsItIsNow) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.join(3, 300);
    auto check = [&](ConnId c, uint32_t user, size_t members) {
        auto out = to(h.join(c, user), c);
        size_t presents = 0;
        for (const auto& o : out) {
            if (o.type != pkt::kUserPresent)
                continue;
            ++presents;
            auto b = UserBlock::decode(o.payload.data(), o.payload.size());
            ASSERT_TRUE(b);
            UserBlock now = *h.hub().member(7, b->user_id);
            now.state = 0;
            EXPECT_EQ(Bytes(o.payload.data(), o.payload.data() + o.payload.size()), now.encode())
                << "user " << b->user_id << " for newcomer " << user;
            auto frame = o.payload.frame(pkt::kUserPresent);
            ASSERT_TRUE(frame);
            EXPECT_EQ(*frame, framing::make_frame(pkt::kUserPresent, now.encode()));
            EXPECT_FALSE(o.payload.frame(pkt::kUserEntered)) << "a frame only for the type it was made for";
        }
        EXPECT_EQ(presents, members);
    };
    // One change between newcomers, so that each must show.
    ConnId next = 4;
    auto after = [&](ConnId from, uint16_t type, const Bytes& payload) {
        h.send(from, type, payload);
        check(next, uint32_t(next * 100), size_t(next - 1));
        ++next;
    };
    after(2, pkt::kSpeakRequest, {}); // no change of a block: the packets made before serve again
    after(2, pkt::kCameraState, CameraState{0, 0, {0x44495658, 320, 240, 24}}.encode());
    after(1, pkt::kSpeakControl, SpeakControl{300, 1}.encode());
    after(3, pkt::kMicrophoneOn, MicrophoneOn{0}.encode());
    after(1, pkt::kRightsChange, RightsChange{200, pkt::kRightChat, pkt::kRightsRemove, 0}.encode());
    EXPECT_EQ(h.hub().member(7, 200)->stream.width, 320);
    EXPECT_EQ(h.hub().member(7, 300)->rights & pkt::kRightSpeak, uint32_t(pkt::kRightSpeak));
    EXPECT_EQ(h.hub().member(7, 200)->rights & pkt::kRightChat, 0u);
    after(2, pkt::kCameraState, CameraState{0, 0, {0, 0, 0, 0}}.encode());
    after(1, pkt::kSpeakControl, SpeakControl{300, 0}.encode());
    after(1, pkt::kRightsChange, RightsChange{200, pkt::kRightChat, pkt::kRightsAdd, 0}.encode());
    EXPECT_EQ(h.hub().member(7, 300)->rights & pkt::kRightSpeak, 0u);
}

// A user holds one seat, whatever the room, until its connection goes; a seat taken over stays with the
// connection that took it when the pushed-out one closes.
TEST(RoomHubGuard, OneSeatAUserInAnyRoomUntilItsConnectionGoes) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    auto result = [&](const std::vector<Outgoing>& out, ConnId c) {
        return LoginResult::decode(to(out, c)[0].payload.data(), 46)->result;
    };
    EXPECT_EQ(result(h.join(3, 200, 8), 3), room::kLoginAlreadyIn) << "in another room as well";
    h.hub().on_disconnect(2);
    EXPECT_EQ(result(h.join(4, 200, 8), 4), 0u) << "free again once its connection went";
    EXPECT_EQ(result(h.join(5, 200, 7), 5), room::kLoginAlreadyIn);
    EXPECT_EQ(result(h.join(6, 200, 8, Login::kReconnectFlag, h.tokens[4]), 6), 0u);
    h.hub().on_disconnect(4); // the pushed-out connection closes after the takeover
    EXPECT_EQ(result(h.join(7, 200, 8), 7), room::kLoginAlreadyIn) << "the seat stays with the newer session";
    EXPECT_EQ(h.hub().connections_of(8), std::vector<ConnId>{6});
    h.hub().on_disconnect(6);
    EXPECT_EQ(result(h.join(8, 200, 7), 8), 0u);
}

// Hubs on different threads of one process share the seats: a user in a room of one hub is refused in a room
// of another, and a reconnect with its session's token takes the seat over there, the hub that held it
// pushing the old session out on its own thread.
TEST(RoomHubGuard, HubsOfOneProcessShareTheSeats) {
    auto book = std::make_shared<room::SeatBook>();
    std::vector<std::pair<int, ConnId>> pushed;
    auto config = [&](int index) {
        room::HubConfig c;
        c.seats = book;
        c.hub_index = index;
        c.push_out_elsewhere = [&pushed](int hub, ConnId conn) { pushed.push_back({hub, conn}); };
        return c;
    };
    Hub a(config(0)), b(config(1));
    a.join(1, 100);
    a.join(2, 200);
    auto refused = b.join(10, 200, 8);
    EXPECT_EQ(LoginResult::decode(refused[0].payload.data(), 46)->result, room::kLoginAlreadyIn);
    EXPECT_TRUE(pushed.empty());
    auto taken = b.join(11, 200, 8, Login::kReconnectFlag, a.tokens[2]);
    EXPECT_EQ(LoginResult::decode(to(taken, 11)[0].payload.data(), 46)->result, 0u);
    ASSERT_EQ(pushed, (std::vector<std::pair<int, ConnId>>{{0, 2}}));
    auto out = a.hub().push_out(2);
    EXPECT_EQ(types(to(out, 1)), std::vector<uint16_t>{pkt::kUserLeft});
    auto old = to(out, 2);
    ASSERT_EQ(old.size(), 3u);
    EXPECT_EQ(old[0].type, pkt::kSystemText);
    EXPECT_EQ(LoginResult::decode(old[1].payload.data(), 46)->result, room::kLoginAlreadyIn);
    EXPECT_TRUE(old[2].close);
    a.hub().on_disconnect(2);
    EXPECT_TRUE(a.hub().push_out(2).empty()) << "a session gone already is not pushed out twice";
    EXPECT_EQ(LoginResult::decode(a.join(3, 200)[0].payload.data(), 46)->result, room::kLoginAlreadyIn)
        << "the seat stays with the session on the other hub";
    b.hub().on_disconnect(11);
    EXPECT_EQ(LoginResult::decode(a.join(4, 200)[0].payload.data(), 46)->result, 0u);
}

// Members and watches brought back without a login (a room rebuilt from other servers) receive the room's
// packets and the video they watch at once, even when the room had already sent some before.
TEST(RoomHub, AdoptedMembersAndWatchesReceiveAtOnce) {
    Hub h;
    h.join(1, 100);
    h.join(2, 200);
    h.send(2, pkt::kWatchVideo, WatchVideo{100, 1}.encode());
    VideoFrame f;
    f.frame = {1, 2, 3};
    ChatLine line;
    line.target = 0xFFFFFFFF;
    line.text = "hi";
    auto receivers = [](const std::vector<Outgoing>& out, uint16_t type) {
        std::vector<ConnId> r;
        for (const auto& o : out)
            if (o.type == type)
                r.push_back(o.to);
        return r;
    };
    EXPECT_EQ(receivers(h.send(1, pkt::kVideoFrame, f.encode()), pkt::kVideoFrame), std::vector<ConnId>{2});
    EXPECT_EQ(receivers(h.send(1, pkt::kChat, line.encode()), pkt::kChatMessage), std::vector<ConnId>{2});

    UserBlock adopted;
    adopted.user_id = 300;
    adopted.rights = room::kGuestRights;
    h.hub().adopt(3, 7, adopted);
    EXPECT_EQ(receivers(h.send(1, pkt::kChat, line.encode()), pkt::kChatMessage),
              (std::vector<ConnId>{2, 3}));
    EXPECT_EQ(receivers(h.send(1, pkt::kVideoFrame, f.encode()), pkt::kVideoFrame), std::vector<ConnId>{2});
    ASSERT_TRUE(h.hub().adopt_watch(7, 100, 300));
    EXPECT_EQ(receivers(h.send(1, pkt::kVideoFrame, f.encode()), pkt::kVideoFrame),
              (std::vector<ConnId>{2, 3}));
}
