// The launch string: key search rule, value cut, conversions and ranges; what the start screen makes of its
// fields.
#include <gtest/gtest.h>

#include <vector>

#include "app/CStartDlg.h"
#include "app/CtalvexDlg.h"
#include "app/launch_params.h"
#include "platform/text.h"

namespace {
LaunchParams parse(const std::string& s) {
    LaunchParams p;
    parse_launch_params(s, p);
    return p;
}
std::string lookup(const char* key, const char* params) {
    char out[kLaunchValueMax + 1];
    int n = get_launch_param(key, out, params);
    EXPECT_EQ(size_t(n), std::strlen(out));
    return out;
}
} // namespace

TEST(LaunchParams, KeyMatchesOnlyAtStartOrAfterSeparators) {
    EXPECT_EQ(parse("userid=12&roomid=7").user_id, 12u);
    EXPECT_EQ(parse("userid=12&roomid=7").room_id, 7u);
    EXPECT_EQ(parse("?userid=12").user_id, 12u);
    EXPECT_EQ(parse("\"userid=12\"").user_id, 12u);
    EXPECT_EQ(parse("myuserid=12").user_id, 0u);
    EXPECT_EQ(parse("xuserid=5&userid=9").user_id, 9u) << "the search goes on after a rejected match";
    EXPECT_EQ(parse("roomid=3&userid=4&userid=5").user_id, 4u) << "first valid occurrence";
    EXPECT_EQ(lookup("userid", "userid 12"), "") << "the key needs its '='";
}

TEST(LaunchParams, ValueEndsAtQuoteAmpersandOrEndAndKeepsOtherBytes) {
    EXPECT_EQ(lookup("subject", "subject=a b=c%20+d&x=1"), "a b=c%20+d");
    EXPECT_EQ(lookup("subject", "\"subject=\xCA\xD3\xC6\xB5\" other"), "\xCA\xD3\xC6\xB5");
    EXPECT_EQ(lookup("subject", "subject="), "");
}

TEST(LaunchParams, EmptyValuesKeepDefaults) {
    LaunchParams p = parse("userid=12&subject=&apptype=");
    EXPECT_EQ(p.user_id, 12u);
    EXPECT_TRUE(p.subject.empty());
    EXPECT_EQ(p.app_type, 2);
    EXPECT_TRUE(p.app_name.empty());
    EXPECT_EQ(CtalvexDlg::TitleFor(p.app_name), QString::fromUtf8("Lumeno视频社区"));
    EXPECT_EQ(CtalvexDlg::TitleFor("\xBF\xCE\xCC\xC3"), QString::fromUtf8("课堂"));
}

TEST(LaunchParams, ViewPageRange) {
    EXPECT_EQ(parse("viewpage=5").view_page, 0);
    EXPECT_EQ(parse("viewpage=-1").view_page, 0);
    EXPECT_EQ(parse("viewpage=4").view_page, 4);
    EXPECT_EQ(parse("viewpage=abc").view_page, 0);
}

TEST(LaunchParams, NumbersConvertLikeTheirCFunctions) {
    EXPECT_EQ(parse("timestamp=1700000000123").timestamp, 1700000000123LL);
    EXPECT_EQ(parse("timestamp=-42").timestamp, -42);
    EXPECT_EQ(parse("userid=abc").user_id, 0u);
    EXPECT_EQ(parse("userid=12abc").user_id, 12u);
    EXPECT_EQ(parse("userid=4294967295").user_id, 4294967295u);
    EXPECT_EQ(parse("userid=99999999999").user_id, 4294967295u) << "saturates like a 32-bit strtoul";
    EXPECT_EQ(parse("userid=-1").user_id, 4294967295u);
    EXPECT_EQ(parse("apptype=-3").app_type, -3) << "apptype has no range check";
    EXPECT_EQ(parse("apptype=99999999999").app_type, 2147483647);
}

TEST(LaunchParams, LongValuesAreCutAndLongKeysRefused) {
    std::string key(200, 'A');
    LaunchParams p = parse("keyid=" + key + "&userid=3");
    EXPECT_EQ(p.key_id, std::string(127, 'A'));
    EXPECT_EQ(p.user_id, 3u);
    std::string long_key(21, 'k');
    EXPECT_EQ(lookup(long_key.c_str(), (long_key + "=1").c_str()), "");
    std::string key20(20, 'k');
    EXPECT_EQ(lookup(key20.c_str(), (key20 + "=1").c_str()), "1");
}

TEST(LaunchParams, EmptyStringKeepsEveryDefault) {
    LaunchParams p = parse("");
    EXPECT_EQ(p.user_id, 0u);
    EXPECT_EQ(p.room_id, 0u);
    EXPECT_EQ(p.timestamp, 0);
    EXPECT_EQ(p.view_page, 0);
    EXPECT_EQ(p.app_type, 2);
}

TEST(LaunchParams, CommandLineTailIsTheArgumentsJoinedWithSpaces) {
    char prog[] = "quorin", a[] = "userid=1&subject=math", b[] = "class&roomid=2";
    char* argv[] = {prog, a, b};
    EXPECT_EQ(launch_string_from_args(3, argv), "userid=1&subject=math class&roomid=2");
    EXPECT_EQ(launch_string_from_args(1, argv), "");
}

// A launch string typed by hand in a UTF-8 terminal reaches the client as UTF-8; what launchers hand over is
// GBK and stays byte for byte.
TEST(LaunchParams, AUtf8LaunchStringTypedByHandIsReadAsGbkText) {
    auto from_args = [](std::string launch, LaunchOrigin origin) {
        char prog[] = "quorin";
        char* argv[] = {prog, launch.data()};
        return launch_string_from_args(2, argv, origin);
    };
    // Subjects of one to four characters, odd and even lengths (an even count of three-byte characters is
    // also well-formed GBK), with Chinese punctuation and full-width digits.
    for (const char* subject : {"数", "示范", "示范课", "数学一课", "语文（第１课）：古诗", "代数、几何"}) {
        SCOPED_TRACE(subject);
        const std::string typed = std::string("userid=1001&roomid=5&subject=") + subject;
        const std::string launch = from_args(typed, LaunchOrigin::Utf8Terminal);
        EXPECT_EQ(launch, utf8_to_gbk(typed));
        EXPECT_EQ(gbk_to_utf8(parse(launch).subject), subject) << "the course label shows what was typed";
        // What a launcher hands (GBK) is taken as it is, from a terminal too.
        EXPECT_EQ(from_args(utf8_to_gbk(typed), LaunchOrigin::Launcher), utf8_to_gbk(typed));
        EXPECT_EQ(from_args(utf8_to_gbk(typed), LaunchOrigin::Utf8Terminal), utf8_to_gbk(typed));
    }
    // UTF-8 that is not GBK is converted from a launcher too (an odd count of three-byte characters).
    EXPECT_EQ(from_args("subject=示范课", LaunchOrigin::Launcher), utf8_to_gbk("subject=示范课"));

    // Every one- and two-character GB2312 subject stays as it is, from a terminal too: none is misread.
    std::vector<std::string> hanzi;
    for (int lead = 0xB0; lead <= 0xF7; ++lead)
        for (int trail = 0xA1; trail <= 0xFE; ++trail)
            if (const std::string c{char(lead), char(trail)}; gbk_to_utf8(c) != "\xEF\xBF\xBD")
                hanzi.push_back(c);
    ASSERT_GT(hanzi.size(), 6000u);
    int misread = 0;
    for (size_t i = 0; i < hanzi.size(); ++i) {
        const std::string one = "subject=" + hanzi[i];
        const std::string two = one + hanzi[(i * 7919) % hanzi.size()];
        misread += launch_text_as_gbk(one, LaunchOrigin::Utf8Terminal) != one;
        misread += launch_text_as_gbk(two, LaunchOrigin::Utf8Terminal) != two;
    }
    EXPECT_EQ(misread, 0);
    // GBK whose bytes are also UTF-8 of Chinese text: traditional characters that only GBK has (閱歷 reads
    // as "醚v", 鋼筆 as "䓹P"), and simplified text by chance (椤颁啊). A launcher's stay byte for byte.
    for (const std::string gbk : {"\xE9\x86\x9A\x76", "\xE4\x93\xB9\x50", "\xE9\xA1\xB0\xE4\xB0\xA1"}) {
        const std::string launch = "userid=1&subject=" + gbk + "&apptype=2";
        EXPECT_EQ(from_args(launch, LaunchOrigin::Launcher), launch);
    }
    // ASCII, and bytes that are neither, are left alone.
    EXPECT_EQ(from_args("userid=1&subject=math", LaunchOrigin::Utf8Terminal), "userid=1&subject=math");
    EXPECT_EQ(launch_text_as_gbk("subject=\xFF\xFE"), "subject=\xFF\xFE");
    // UTF-8 that cannot be GBK is converted whatever its script; a character GBK lacks becomes '?'.
    EXPECT_EQ(launch_text_as_gbk("subject=Caf\xC3\xA9\xC3"), "subject=Caf\xC3\xA9\xC3") << "not UTF-8";
    EXPECT_EQ(launch_text_as_gbk("subject=\xE6\x95\xB0"), utf8_to_gbk("subject=数"));
}

TEST(StartScreen, ChoiceFromALinkALaunchStringOrTheFields) {
    StartChoice c = make_start_choice(" quorin://join?userid=12&roomid=7&subject=%E6%95%B0 ", "", "", "");
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(c.launch, "userid=12&roomid=7&subject=" + utf8_to_gbk("数"));
    c = make_start_choice("userid=5&roomid=6", "1", "2", "");
    EXPECT_EQ(c.launch, "userid=5&roomid=6") << "the link wins over the fields";
    c = make_start_choice("quorin://join?roomid=7", "", "", "");
    EXPECT_FALSE(c.error.empty()) << "a link without a user";
    EXPECT_TRUE(c.launch.empty());
    c = make_start_choice("", " 7 ", "12", "");
    EXPECT_EQ(c.launch, "userid=12&roomid=7");
    for (auto [room, user] :
         {std::pair{"", "12"}, {"7", ""}, {"0", "12"}, {"7", "4294967296"}, {"7a", "1"}}) {
        SCOPED_TRACE(std::string(room) + "/" + user);
        EXPECT_FALSE(make_start_choice("", room, user, "").error.empty());
    }
    c = make_start_choice("", "7", "12", "class.example.org:6000");
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(c.server, "class.example.org:6000");
    for (const char* bad : {"class.example.org", ":6000", "host:0", "host:70000", "host:6000x", "a b:1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(make_start_choice("", "7", "12", bad).error.empty());
    }
}
