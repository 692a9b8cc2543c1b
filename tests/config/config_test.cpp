// Configuration: the colour file store, colour parsing, the settings' range rules and the device write-back.
#include <gtest/gtest.h>

#include "components/log.h"
#include "config/cfg_store.h"
#include "config/client_config.h"
#include "config/colour.h"
#include "platform/profile.h"
#include "platform/user_folders.h"
#include "temp_dir.h"

TEST(Colour, ParsesBothForms) {
    EXPECT_EQ(parse_colour("104,148,185"), 0x00B99468u);
    EXPECT_EQ(parse_colour("ffffff"), 0x00FFFFFFu);
    EXPECT_EQ(parse_colour("c0c0c0"), make_rgb(192, 192, 192));
    EXPECT_EQ(parse_colour("C0c0C0"), make_rgb(192, 192, 192));
    EXPECT_EQ(parse_colour("192,192,192"), make_rgb(192, 192, 192));
    EXPECT_EQ(parse_colour("12,34"), make_rgb(12, 34, 0));
    EXPECT_EQ(parse_colour("300,-1,256"), make_rgb(44, 255, 0)) << "each value modulo 256, as a byte";
    EXPECT_EQ(parse_colour("ABCDEFG"), 0u);
    EXPECT_EQ(parse_colour("ff"), 0u);
    EXPECT_EQ(parse_colour(""), 0u);
    EXPECT_EQ(parse_colour("=c0c0c0"), 0u) << "7 characters";
}

TEST(Colour, HexPairThatDoesNotScanStaysZeroWithTheRest) {
    EXPECT_EQ(parse_hex_colour("ffzz10"), make_rgb(255, 0, 0));
    EXPECT_EQ(parse_hex_colour("fffff"), 0u);
    EXPECT_EQ(parse_hex_colour("ff,fff"), make_rgb(255, 0, 0)) << "the hex form itself ignores commas";
}

TEST(CfgStore, LinesKeysAndValues) {
    TempDir dir;
    write_file(dir.file("cfg.txt"), "# comment\n"
                                    "   ; also a comment\n"
                                    "[colors]\n"
                                    "toolcolor=c0c0c0\r\n"
                                    "toolcolor=ffffff\n"
                                    "listcolor 192,192,192  \n"
                                    "vtext_color = ffffff\n"
                                    "   \n"
                                    "\tchatinput\t=010203\n");
    CfgStore store;
    ASSERT_TRUE(store.load(dir.file("cfg.txt")));
    std::string v;
    EXPECT_TRUE(store.get("toolcolor", v, "x"));
    EXPECT_EQ(v, "c0c0c0") << "a repeated key keeps its first value";
    ASSERT_NE(store.values("toolcolor"), nullptr);
    EXPECT_EQ(store.values("toolcolor")->size(), 2u);
    EXPECT_TRUE(store.get("listcolor", v, "x"));
    EXPECT_EQ(v, "192,192,192");
    EXPECT_TRUE(store.get("vtext_color", v, "x"));
    EXPECT_EQ(v, "= ffffff") << "the first blank is the separator; the equals sign stays in the value";
    EXPECT_EQ(parse_colour(v), 0u);
    EXPECT_TRUE(store.get("[colors]", v, "x"));
    EXPECT_EQ(v, "");
    EXPECT_TRUE(store.get("", v, "x")) << "a blank-only line makes an entry with an empty key";
    EXPECT_TRUE(store.get("chatinput", v, "x"));
    EXPECT_EQ(v, "=010203");
    EXPECT_FALSE(store.get("boardcolor", v, "ebebeb"));
    EXPECT_EQ(v, "ebebeb");
    EXPECT_FALSE(store.get("#", v, "d"));
}

TEST(CfgStore, OverlongLineContinuesAsTheNextLine) {
    TempDir dir;
    std::string line = "k=" + std::string(4093, 'a') + "tail=1\n";
    write_file(dir.file("cfg.txt"), line);
    CfgStore store;
    ASSERT_TRUE(store.load(dir.file("cfg.txt")));
    std::string v;
    EXPECT_TRUE(store.get("k", v, ""));
    EXPECT_EQ(v.size(), 4093u);
    EXPECT_TRUE(store.get("tail", v, ""));
    EXPECT_EQ(v, "1");
}

TEST(CfgStore, MissingFileFails) {
    CfgStore store;
    EXPECT_FALSE(store.load("/nonexistent/cfg.txt"));
}

TEST(ClientConfig, ColoursAreBlackWithoutTheFileAndDefaultPerMissingKey) {
    TempDir dir;
    load_colours(dir.file("ui/cfg.txt"));
    for (int k = 0; k < kColourCount; ++k)
        EXPECT_EQ(colour(ColourKey(k)), 0u) << kColourDefaults[k].key;

    write_file(dir.file("ui/cfg.txt"), "toolcolor=c0c0c0\nchatinput 1,2,3\n");
    load_colours(dir.file("ui/cfg.txt"));
    EXPECT_EQ(colour(kToolColor), make_rgb(192, 192, 192));
    EXPECT_EQ(colour(kChatInput), make_rgb(1, 2, 3));
    EXPECT_EQ(colour(kVBackColor), make_rgb(104, 148, 185));
    EXPECT_EQ(colour(kVTextColor), 0x00FFFFFFu);
    EXPECT_EQ(colour(kChatTipsColor), make_rgb(61, 113, 137));
}

TEST(ClientConfig, SettingsDefaultsAndRangeRules) {
    TempDir dir;
    ClientSettings none = read_settings(dir.file("user.txt"));
    EXPECT_EQ(none.record_deviceid, -1) << "the default device";
    EXPECT_EQ(none.play_deviceid, -1);
    EXPECT_EQ(none.camera_deviceid, -1);
    EXPECT_EQ(none.port, 5288);

    struct Row {
        const char* text;
        int record, play, camera, port;
    } rows[] = {
        {"[media]\nrecord_deviceid=-3\nplay_deviceid=2\ncamera_deviceid=-5\n[network]\nport=0\n", -1, 2, -1,
         5288},
        {"[media]\nrecord_deviceid=4\ncamera_deviceid=-1\n[network]\nport=65500\n", 4, -1, -1, 65500},
        {"[media]\nrecord_deviceid=-1\nplay_deviceid=-1\ncamera_deviceid=0\n[network]\nport=65501\n", -1, -1,
         0, 5288},
        {"[media]\nrecord_deviceid=0\nplay_deviceid=0\n[network]\nport=-7\n", 0, 0, -1, 5288},
        {"[network]\nport=1\n", -1, -1, -1, 1},
        {"[network]\nport=any\n", -1, -1, -1, kAnyServicePort},
        {"[network]\nport=anything\n", -1, -1, -1, 5288},
    };
    for (const Row& r : rows) {
        write_file(dir.file("user.txt"), r.text);
        ClientSettings s = read_settings(dir.file("user.txt"));
        EXPECT_EQ(s.record_deviceid, r.record) << r.text;
        EXPECT_EQ(s.play_deviceid, r.play) << r.text;
        EXPECT_EQ(s.camera_deviceid, r.camera) << r.text;
        EXPECT_EQ(s.port, r.port) << r.text;
    }
}

TEST(ClientConfig, DeviceWriteBackStoresAndWrites) {
    TempDir dir;
    const std::string f = dir.file("user.txt");
    write_file(f, "[media]\nrecord_deviceid=0\n[network]\nport=6000\n");
    ClientSettings s = read_settings(f);
    EXPECT_TRUE(save_device_setting(s, f, kCameraDevice, 2));
    EXPECT_TRUE(save_device_setting(s, f, kRecordingDevice, 1));
    EXPECT_TRUE(save_device_setting(s, f, kPlaybackDevice, 3));
    EXPECT_FALSE(save_device_setting(s, f, 3, 9));
    EXPECT_EQ(s.camera_deviceid, 2);
    ClientSettings again = read_settings(f);
    EXPECT_EQ(again.camera_deviceid, 2);
    EXPECT_EQ(again.record_deviceid, 1);
    EXPECT_EQ(again.play_deviceid, 3);
    EXPECT_EQ(again.port, 6000);
    // "默认设备" chosen again survives a restart.
    EXPECT_TRUE(save_device_setting(again, f, kRecordingDevice, -1));
    EXPECT_TRUE(save_device_setting(again, f, kPlaybackDevice, -1));
    const ClientSettings restarted = read_settings(f);
    EXPECT_EQ(restarted.record_deviceid, -1);
    EXPECT_EQ(restarted.play_deviceid, -1);
}

TEST(ClientConfig, TheShippedSettingsUseTheDefaultSoundDevices) {
    const ClientSettings shipped = read_settings(std::string(QUORIN_SOURCE_DIR) + "/assets/user.txt");
    EXPECT_EQ(shipped.record_deviceid, -1);
    EXPECT_EQ(shipped.play_deviceid, -1);
    EXPECT_EQ(shipped.camera_deviceid, -1);
}

TEST(ClientConfig, LoadSetsUpLoggingInTheLogFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "log");
    write_file(dir.file("user.txt"), "[network]\nport=6100\n");
    ClientSettings s = load_client_config(dir.path().string());
    EXPECT_EQ(s.port, 6100);
    EXPECT_TRUE(log_enable(1, 32));
    EXPECT_TRUE(log_enable(3, 32));
    log_free();
    bool found = false;
    for (auto& e : std::filesystem::directory_iterator(dir.path() / "log"))
        found = found || read_file(e.path().string()).find(": log_init ok") != std::string::npos;
    EXPECT_TRUE(found);
}

TEST(UserPort, DerivedFromTheUserIdWrittenOnceAndKept) {
    TempDir dir;
    const std::string f = dir.file("user.txt");
    write_file(f, "[media]\nrecord_deviceid=0\n[network]\n# no port\n");
    const int first = ensure_user_port(f, 1000, [](int) { return true; });
    EXPECT_EQ(first, kUserPortFirst + 1000);
    EXPECT_EQ(read_settings(f).port, first) << "written where the service reads it";
    EXPECT_NE(read_file(f).find("record_deviceid=0"), std::string::npos) << "the rest is kept";
    const int second_user = ensure_user_port(dir.file("other.txt"), 1001, [](int) { return true; });
    EXPECT_NE(second_user, first) << "two users, two ports";
    // Once written it is kept, whatever is free now.
    EXPECT_EQ(ensure_user_port(f, 1000, [](int) { return false; }), first);
    // A port in the file is the user's choice.
    write_file(f, "[network]\nport=6001\n");
    EXPECT_EQ(ensure_user_port(f, 1000), 6001);
    write_file(f, "[network]\nport=any\n");
    EXPECT_EQ(ensure_user_port(f, 1000), kAnyServicePort);
    EXPECT_EQ(read_settings(f).port, kAnyServicePort) << "kept as it is";
    // A derived port that another program holds: the next candidate.
    const std::string g = dir.file("busy.txt");
    const int p = ensure_user_port(g, 1000, [](int port) { return port != kUserPortFirst + 1000; });
    EXPECT_NE(p, kUserPortFirst + 1000);
    EXPECT_GE(p, kUserPortFirst);
    EXPECT_LT(p, kUserPortFirst + kUserPortCount);
    // Large user ids stay in the range.
    const int big = ensure_user_port(dir.file("big.txt"), 4000000000u, [](int) { return true; });
    EXPECT_GE(big, kUserPortFirst);
    EXPECT_LT(big, kUserPortFirst + kUserPortCount);
}
