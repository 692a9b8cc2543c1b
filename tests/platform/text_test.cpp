// GBK <-> UTF-8: round trips, and bad input that never stops the conversion.
#include <gtest/gtest.h>

#include "platform/text.h"

TEST(Text, RoundTripsChineseText) {
    const std::string utf8 = "Lumeno视频社区 所有人";
    const std::string gbk = utf8_to_gbk(utf8);
    EXPECT_EQ(gbk, "Lumeno\xCA\xD3\xC6\xB5\xC9\xE7\xC7\xF8 \xCB\xF9\xD3\xD0\xC8\xCB");
    EXPECT_EQ(gbk_to_utf8(gbk), utf8);
}

TEST(Text, InvalidGbkIsReplacedAndTheRestKept) {
    // 0xFF is never a GBK lead byte; a lead byte cut off at the end is incomplete.
    EXPECT_EQ(gbk_to_utf8("a\xFF"
                          "b\xCA\xD3"),
              "a\xEF\xBF\xBD"
              "b视");
    EXPECT_EQ(gbk_to_utf8("ab\xCA"), "ab\xEF\xBF\xBD");
    EXPECT_EQ(gbk_to_utf8(std::string("x\0y", 3)), std::string("x\0y", 3));
}

TEST(Text, UnmappableOrMalformedUtf8BecomesQuestionMark) {
    EXPECT_EQ(utf8_to_gbk("a😀b"), "a?b");
    EXPECT_EQ(utf8_to_gbk("a\xC3"
                          "b"),
              "a?b");
    EXPECT_EQ(utf8_to_gbk("\xE8\xA7"), "?"
                                       "?");
    EXPECT_EQ(utf8_to_gbk(""), "");
}
