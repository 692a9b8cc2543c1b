// Packet layouts: offsets of every outbound type, and inbound packets that are short or lie about lengths.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "wire/protocol.h"

using namespace proto;

namespace {
uint32_t u32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t u16(const Bytes& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
bool zero(const Bytes& b, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (b[i])
            return false;
    return true;
}
} // namespace

TEST(Protocol, LoginLayoutAndKeyDecoding) {
    Login l;
    l.flags = Login::kReconnectFlag;
    l.app_type = 2;
    l.user_id = 12;
    l.room_id = 7;
    l.key = *decode_key_id("A1F0");
    l.timestamp = 1700000000123LL;
    l.window = 0x1234;
    Bytes b = l.encode();
    ASSERT_EQ(b.size(), 48u);
    EXPECT_EQ(u32(b, 0), 4u);
    EXPECT_EQ(u32(b, 4), 2u);
    EXPECT_EQ(u32(b, 8), 12u);
    EXPECT_EQ(u32(b, 12), 7u);
    EXPECT_EQ(b[16], 0xA1);
    EXPECT_EQ(b[17], 0xF0);
    EXPECT_TRUE(zero(b, 18, 36)) << "18 zero bytes after a two-byte key";
    EXPECT_EQ(u32(b, 36), uint32_t(1700000000123LL & 0xFFFFFFFF));
    EXPECT_EQ(u32(b, 40), uint32_t(1700000000123LL >> 32));
    EXPECT_EQ(u32(b, 44), 0x1234u);
}

TEST(Protocol, KeyIdRules) {
    EXPECT_TRUE(decode_key_id(std::string(40, 'F')).has_value());
    EXPECT_FALSE(decode_key_id(std::string(41, 'F')).has_value());
    auto full = *decode_key_id("0123456789ABCDEF0123456789ABCDEF01234567");
    EXPECT_EQ(full[0], 0x01);
    EXPECT_EQ(full[7], 0xEF);
    EXPECT_EQ(full[19], 0x67);
    EXPECT_EQ((*decode_key_id(""))[0], 0);
    EXPECT_FALSE(decode_key_id("ABC").has_value()) << "an odd number of digits is no key";
    EXPECT_FALSE(decode_key_id("0G").has_value()) << "would be the same bytes as \"10\"";
    EXPECT_EQ(*decode_key_id("0123456789abcdef0123456789abcdef01234567"), full)
        << "lower case, as tools print HMAC digests";
}

// Text fields are cut at a character boundary: half a GBK character would turn into garbage on screen.
TEST(Protocol, TextFieldsAreCutBetweenCharacters) {
    const std::string zhang = "\xD5\xC5"; // one two-byte character
    const struct {
        std::string text;
        size_t limit;
        size_t fits;
    } cases[] = {
        {std::string(19, 'a') + zhang, 20, 19},
        {std::string(18, 'a') + zhang, 20, 20},
        {zhang + zhang, 3, 2},
        {"abc", 2, 2},
        {"", 0, 0},
        {std::string(10, '\xD5'), 5, 4},
        {"\xFF\xD5\xC5", 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        EXPECT_EQ(gbk_fit(c.text, c.limit), c.fits);
    }
    UserBlock u;
    u.nickname = std::string(19, 'a') + zhang;
    auto back = UserBlock::decode(u.encode().data(), UserBlock::kSize);
    EXPECT_EQ(back->nickname, std::string(19, 'a'));
    ChatLine line;
    line.font_face = std::string(23, 'f') + zhang;
    auto encoded = line.encode();
    auto chat = ChatLine::decode(encoded.data(), encoded.size());
    EXPECT_EQ(chat->font_face, std::string(23, 'f'));
}

TEST(Protocol, TwoCharacterChatToEveryone) {
    ChatLine c;
    c.text = "hi";
    c.font_face = "SimSun";
    c.effects = 1 | 4;
    c.height = 180;
    c.colour = 0x00112233;
    Bytes b = c.encode();
    ASSERT_EQ(b.size(), 72u);
    EXPECT_EQ(u32(b, 0), 0u);
    EXPECT_EQ(u32(b, 8), 0xFFFFFFFFu);
    EXPECT_EQ(u16(b, 12), 0);
    EXPECT_EQ(u16(b, 14), 0);
    EXPECT_TRUE(zero(b, 16, 32));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[32])), "SimSun");
    EXPECT_EQ(u16(b, 56), 5);
    EXPECT_EQ(u16(b, 58), 180);
    EXPECT_EQ(u32(b, 60), 0x00112233u);
    EXPECT_EQ(u32(b, 64), 3u);
    EXPECT_EQ(b[68], 'h');
    EXPECT_EQ(b[70], 0);
    EXPECT_EQ(b[71], 0);
}

TEST(Protocol, FixedOutboundLayouts) {
    Bytes cam = CameraState{}.encode();
    ASSERT_EQ(cam.size(), 18u);
    EXPECT_TRUE(zero(cam, 0, 18)) << "camera stop is all zero";
    Bytes cam_on = CameraState{0, 0, {0x44495658, 320, 240, 24}}.encode();
    EXPECT_EQ(u32(cam_on, 8), 0x44495658u);
    EXPECT_EQ(u16(cam_on, 12), 320);
    EXPECT_EQ(u16(cam_on, 14), 240);
    EXPECT_EQ(u16(cam_on, 16), 24);

    Bytes mic = MicrophoneOn{3}.encode();
    ASSERT_EQ(mic.size(), 20u);
    EXPECT_EQ(u32(mic, 0), 3u);
    EXPECT_EQ(u32(mic, 4), 30u);
    EXPECT_EQ(u32(mic, 8), 8u);
    EXPECT_EQ(u32(mic, 12), 8000u);
    EXPECT_EQ(u16(mic, 16), 16);
    EXPECT_EQ(u16(mic, 18), 2);

    Bytes vol = OutputVolume{55}.encode();
    ASSERT_EQ(vol.size(), 8u);
    EXPECT_EQ(u32(vol, 0), 1u);
    EXPECT_EQ(u32(vol, 4), 55u);

    Bytes watch = WatchVideo{99, 1}.encode();
    ASSERT_EQ(watch.size(), 6u);
    EXPECT_EQ(u32(watch, 0), 99u);
    EXPECT_EQ(u16(watch, 4), 1);

    Bytes speak = SpeakControl{42, 1}.encode();
    ASSERT_EQ(speak.size(), 12u);
    EXPECT_EQ(u32(speak, 0), 42u);
    EXPECT_EQ(u32(speak, 4), 0u);
    EXPECT_EQ(u16(speak, 8), 1);
    EXPECT_EQ(u16(speak, 10), 0);

    VideoFrame v;
    v.capture_length = 115200;
    v.key_frame = 1;
    v.frame = {9, 8, 7};
    Bytes vb = v.encode();
    ASSERT_EQ(vb.size(), 23u);
    EXPECT_TRUE(zero(vb, 0, 8));
    EXPECT_EQ(u32(vb, 8), 3u);
    EXPECT_EQ(u32(vb, 12), 115200u);
    EXPECT_EQ(u32(vb, 16), 1u);
    EXPECT_EQ(vb[22], 7);
}

TEST(Protocol, UserBlockRoundTripAndFullNickname) {
    UserBlock u;
    u.user_id = 5;
    u.ip = inet_addr("10.1.2.3");
    u.port = 4000;
    u.rights = 71;
    u.stream = {0x44495658, 320, 240, 24};
    u.nickname = std::string(20, 'N');
    Bytes b = u.encode();
    ASSERT_EQ(b.size(), 54u);
    EXPECT_EQ(b[4], 10);
    EXPECT_EQ(b[7], 3) << "address in network byte order";
    EXPECT_EQ(u32(b, 16), 71u);
    EXPECT_EQ(u16(b, 28), 320);
    auto back = UserBlock::decode(b.data(), b.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->nickname, std::string(20, 'N')) << "a full field is read to its end only";
    EXPECT_EQ(back->stream, u.stream);
    EXPECT_EQ(back->ip, u.ip);
    EXPECT_FALSE(UserBlock::decode(b.data(), 53));
}

TEST(Protocol, ShortInboundPacketsDecodeToNothing) {
    Bytes big(100, 0);
    EXPECT_FALSE(LoginResult::decode(big.data(), 45));
    EXPECT_TRUE(LoginResult::decode(big.data(), 46));
    EXPECT_FALSE(UserLeft::decode(big.data(), 11));
    EXPECT_FALSE(RightsChange::decode(big.data(), 15));
    EXPECT_FALSE(MicrophoneState::decode(big.data(), 5));
    EXPECT_FALSE(VideoWanted::decode(big.data(), 1));
    EXPECT_FALSE(CameraState::decode(big.data(), 17));
    EXPECT_FALSE(ChatLine::decode(big.data(), 67));
    EXPECT_FALSE(VideoFrame::decode(big.data(), 19));
    EXPECT_FALSE(SystemText::decode(big.data(), 3));
    EXPECT_FALSE(LogoutResult::decode(nullptr, 4));
}

TEST(Protocol, ChatLengthThatDoesNotFitIsCutToThePayload) {
    ChatLine c;
    c.text = "hello";
    Bytes b = c.encode();
    // Claim 1000 bytes of text while the payload holds 5 and a terminator.
    b[64] = 0xE8;
    b[65] = 0x03;
    auto d = ChatLine::decode(b.data(), b.size());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->declared_length, 1000u) << "kept, so that a receiver can refuse the packet";
    EXPECT_EQ(d->text, std::string("hello\0", 6)) << "the terminator and the spare byte, nothing past them";
    // No terminator anywhere: the text is what the payload holds, never more.
    Bytes cut(b.begin(), b.begin() + 68 + 3);
    d = ChatLine::decode(cut.data(), cut.size());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->text, "hel");
    // A length shorter than the text wins.
    b[64] = 2;
    b[65] = 0;
    EXPECT_EQ(ChatLine::decode(b.data(), b.size())->text, "he");
}

TEST(Protocol, VideoFrameLengthPastThePayloadIsCut) {
    VideoFrame v;
    v.frame.assign(10, 0xAB);
    Bytes b = v.encode();
    b[8] = 0xFF;
    b[9] = 0xFF;
    b[10] = 0xFF;
    b[11] = 0xFF;
    auto d = VideoFrame::decode(b.data(), b.size());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->frame.size(), 10u);
}

TEST(Protocol, InboundLayouts) {
    RightsChange r{7, 4, 23, 1};
    Bytes rb = r.encode();
    ASSERT_EQ(rb.size(), 16u);
    EXPECT_EQ(u16(rb, 12), 23);
    EXPECT_EQ(rb[14], 1);
    auto rd = RightsChange::decode(rb.data(), rb.size());
    EXPECT_EQ(rd->operation, 23);
    EXPECT_EQ(rd->flags, 1);

    LoginResult lr;
    lr.result = 0;
    lr.rights = 66;
    lr.nickname = "\xD5\xC5\xC8\xFD";
    lr.output_volume = 80;
    lr.ip = inet_addr("127.0.0.1");
    lr.port = 5000;
    Bytes lb = lr.encode();
    ASSERT_EQ(lb.size(), 46u);
    EXPECT_EQ(u32(lb, 28), 80u);
    EXPECT_EQ(u16(lb, 44), 5000);
    auto ld = LoginResult::decode(lb.data(), lb.size());
    EXPECT_EQ(ld->nickname, lr.nickname);
    EXPECT_EQ(ld->ip, lr.ip);

    Bytes text = SystemText{"notice"}.encode();
    EXPECT_EQ(SystemText::decode(text.data(), text.size())->text, "notice");
    Bytes unterminated = {0, 0, 0, 0, 'a', 'b'};
    EXPECT_EQ(SystemText::decode(unterminated.data(), unterminated.size())->text, "ab");

    Bytes ms = MicrophoneState{3, 2, 1}.encode();
    auto md = MicrophoneState::decode(ms.data(), ms.size());
    EXPECT_EQ(md->device, 2);
    EXPECT_EQ(md->off, 1);
}
