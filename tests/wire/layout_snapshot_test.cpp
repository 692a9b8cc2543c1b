// Every layout, filled with distinct values, against the bytes it must give on the wire, and every layout
// decoded from those bytes and encoded again to the same bytes. The expected bytes were taken once from a
// reviewed encoder; a change of any offset, width or padding shows here as a changed line.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "wire/protocol.h"

using namespace proto;

namespace {

std::string hex(const Bytes& b) {
    std::string s;
    char two[3];
    for (uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02x", v);
        s += two;
    }
    return s;
}

template <class T> std::string round_trip(const T& value) {
    const Bytes b = value.encode();
    auto back = T::decode(b.data(), b.size());
    if (!back)
        return "no decode";
    return hex(back->encode());
}

const std::map<std::string, std::string> kExpected = {
    {"UserBlock", "040302017f00000106050000000000004700000023000000585649444001f0001800d5c5c8fd00000000000000"
                  "000000000000000000"},
    {"Login",
     "0400000002000000e903000007000000a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3080706050403020144332211"},
    {"ChatLine", "09000000000000000c000000000001000000000000000000000000000000000053696d53756e000000000000000"
                 "0000000000000000000000500b4003322110005000000686900780000"},
    {"VideoFrame", "03000000040000000300000000c2010001000000090807"},
    {"CameraState", "0100000002000000585649444001f0001800"},
    {"MicrophoneOn", "030000001e00000008000000401f000010000200"},
    {"OutputVolume", "0100000037000000"},
    {"WatchVideo", "630000000100"},
    {"SpeakControl", "2a0000000000000001000000"},
    {"UserLeft", "080000000000000001000000"},
    {"SystemText", "000000006e6f7469636500"},
    {"SpeakRequest", "11000000"},
    {"MicrophoneState", "030000000101"},
    {"VideoWanted", "0100"},
    {"RightsChange", "07000000000000000400000016000100"},
    {"LoginResult",
     "0000000042000000686f7374000000000000000000000000000000005000000000000000000000007f0000018813"},
    {"LogoutResult", "03000000"},
    {"VoicePacket", "05000000060000008877665544332211010203"},
    {"KeepAlive", "204e0000"},
};

const StreamDesc kStream{0x44495658, 320, 240, 24};

} // namespace

TEST(LayoutSnapshot, EveryLayoutEncodesToItsBytesAndBack) {
    UserBlock user;
    user.user_id = 0x01020304;
    user.ip = 0x0100007F;
    user.port = 0x0506;
    user.rights = 0x47;
    user.state = 0x23;
    user.stream = kStream;
    user.nickname = "\xD5\xC5\xC8\xFD";

    Login login;
    login.flags = 4;
    login.app_type = 2;
    login.user_id = 1001;
    login.room_id = 7;
    for (size_t i = 0; i < login.key.size(); ++i)
        login.key[i] = uint8_t(0xA0 + i);
    login.timestamp = 0x0102030405060708;
    login.window = 0x11223344;

    ChatLine chat;
    chat.sender = 9;
    chat.target = 12;
    chat.private_flag = 1;
    chat.font_face = "SimSun";
    chat.effects = 5;
    chat.height = 180;
    chat.colour = 0x00112233;
    chat.text = std::string("hi\0x", 4);

    VideoFrame video;
    video.user_id = 3;
    video.room_id = 4;
    video.capture_length = 115200;
    video.key_frame = 1;
    video.frame = {9, 8, 7};

    LoginResult result;
    result.result = 0;
    result.rights = 66;
    result.nickname = "host";
    result.output_volume = 80;
    result.ip = 0x0100007F;
    result.port = 5000;

    VoicePacket voice;
    voice.user_id = 5;
    voice.sequence = 6;
    voice.capture_us = 0x1122334455667788;
    voice.opus = {1, 2, 3};

    const struct {
        const char* name;
        std::string bytes;
        std::string again;
    } rows[] = {
        {"UserBlock", hex(user.encode()), round_trip(user)},
        {"Login", hex(login.encode()), round_trip(login)},
        {"ChatLine", hex(chat.encode()), round_trip(chat)},
        {"VideoFrame", hex(video.encode()), round_trip(video)},
        {"CameraState", hex(CameraState{1, 2, kStream}.encode()), round_trip(CameraState{1, 2, kStream})},
        {"MicrophoneOn", hex(MicrophoneOn{3}.encode()), round_trip(MicrophoneOn{3})},
        {"OutputVolume", hex(OutputVolume{55}.encode()), round_trip(OutputVolume{55})},
        {"WatchVideo", hex(WatchVideo{99, 1}.encode()), round_trip(WatchVideo{99, 1})},
        {"SpeakControl", hex(SpeakControl{42, 1}.encode()), round_trip(SpeakControl{42, 1})},
        {"UserLeft", hex(UserLeft{8, 1}.encode()), round_trip(UserLeft{8, 1})},
        {"SystemText", hex(SystemText{"notice"}.encode()), round_trip(SystemText{"notice"})},
        {"SpeakRequest", hex(SpeakRequest{17}.encode()), round_trip(SpeakRequest{17})},
        {"MicrophoneState", hex(MicrophoneState{3, 1, 1}.encode()), round_trip(MicrophoneState{3, 1, 1})},
        {"VideoWanted", hex(VideoWanted{1}.encode()), round_trip(VideoWanted{1})},
        {"RightsChange", hex(RightsChange{7, 4, 22, 1}.encode()), round_trip(RightsChange{7, 4, 22, 1})},
        {"LoginResult", hex(result.encode()), round_trip(result)},
        {"LogoutResult", hex(LogoutResult{3}.encode()), round_trip(LogoutResult{3})},
        {"VoicePacket", hex(voice.encode()), round_trip(voice)},
        {"KeepAlive", hex(KeepAlive{20000}.encode()), round_trip(KeepAlive{20000})},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.bytes, kExpected.at(row.name)) << row.name;
        EXPECT_EQ(row.again, row.bytes) << row.name << " decoded and encoded again";
    }
}

// Which types exist and the least payload each must carry, over every possible type number.
TEST(LayoutSnapshot, KnownTypesAndTheirMinimumPayloads) {
    struct Known {
        unsigned type;
        size_t min;
        bool operator==(const Known&) const = default;
    };
    const std::vector<Known> expected = {
        {1, 48}, {2, 68}, {4, 54},  {5, 54},  {7, 12}, {8, 0},   {9, 4},     {10, 20},   {11, 18},  {12, 20},
        {13, 0}, {21, 8}, {22, 0},  {23, 2},  {24, 6}, {25, 6},  {26, 2},    {27, 12},   {28, 16},  {29, 0},
        {30, 4}, {31, 6}, {40, 17}, {41, 16}, {42, 4}, {999, 0}, {1001, 46}, {1002, 68}, {1006, 4},
    };
    std::vector<Known> seen;
    for (unsigned type = 0; type <= 0xFFFF; ++type) {
        if (is_known_type(uint16_t(type)))
            seen.push_back({type, min_payload(uint16_t(type))});
        else
            EXPECT_EQ(min_payload(uint16_t(type)), 0u) << "unknown type " << type << " has a minimum";
    }
    EXPECT_EQ(seen, expected);
}
