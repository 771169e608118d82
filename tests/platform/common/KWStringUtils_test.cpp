#include <gtest/gtest.h>

#include "platform/common/KWStringConvert.h"
#include "platform/common/KWStringToken.h"
#include "platform/common/KWStringUtils.h"

using namespace KwLib;

TEST(KWStringUtils, FormatHandlesLongOutputAndTrimReplace) {
    std::string big(2000, 'x');
    EXPECT_EQ(KWStringUtils::Format("%s-%d", big.c_str(), 7), big + "-7");
    EXPECT_EQ(KWStringUtils::Format("%02d:%02d", 5, 9), "05:09");
    EXPECT_EQ(KWStringUtils::Trim("  \t a b \r\n"), "a b");
    EXPECT_EQ(KWStringUtils::Trim("   "), "");
    std::string s = "a'b'c";
    EXPECT_EQ(KWStringUtils::Replace(s, "'", "''"), 2);
    EXPECT_EQ(s, "a''b''c");
    std::string overlap = "aaa";
    EXPECT_EQ(KWStringUtils::Replace(overlap, "a", "aa"), 3);
    EXPECT_EQ(overlap, "aaaaaa");
}

TEST(KWStringUtils, CaseInsensitiveOperations) {
    EXPECT_EQ(KWStringUtils::CompareNoCase("VLGuard", "vlguard"), 0);
    EXPECT_LT(KWStringUtils::CompareNoCase("a", "B"), 0);
    EXPECT_TRUE(KWStringUtils::BeginWithNoCase("HTTP://x", "http://"));
    EXPECT_FALSE(KWStringUtils::BeginWithNoCase("ht", "http"));
    EXPECT_EQ(KWStringUtils::FindNoCase("www.Example.COM/a", ".com"), 11u);
    EXPECT_EQ(KWStringUtils::FindNoCase("abc", "x"), std::string::npos);
}

TEST(KWStringUtils, CodePointCuttingNeverSplitsCharacters) {
    std::string s = "音乐ab测试";
    EXPECT_EQ(KWStringUtils::Left(s, 3), "音乐a");
    EXPECT_EQ(KWStringUtils::Mid(s, 2, 2), "ab");
    EXPECT_EQ(KWStringUtils::Mid(s, 4), "测试");
    EXPECT_EQ(KWStringConvert::CodePointCount(s), 6u);
    EXPECT_EQ(KWStringConvert::CutToCodePoints(s, 1), "音");
    // A stray lead byte is one character of its own; the letter after it stays.
    std::string broken =
        "\xe4"
        "A\xc3"
        "B";
    EXPECT_EQ(KWStringUtils::Left(broken, 1), "\xe4");
    EXPECT_EQ(KWStringUtils::Mid(broken, 1, 1), "A");
    EXPECT_EQ(KWStringUtils::Mid(broken, 3), "B");
    EXPECT_EQ(KWStringUtils::Left(broken, 4), broken);
    EXPECT_EQ(KWStringConvert::CodePointCount(broken), 4u);
    EXPECT_EQ(KWStringUtils::Left("\xe6\x9f", 1), "\xe6");
    EXPECT_EQ(KWStringUtils::GetSubStr("<a>mid</a>", "<a>", "</a>"), "mid");
    EXPECT_EQ(KWStringUtils::GetSubStr("<a>mid", "<a>", "</a>"), "");
}

TEST(KWStringUtils, NumberConversionFollowsAtoiWithoutOverflow) {
    EXPECT_EQ(KWStringUtils::ConvertStringToInt32(" 42abc"), 42);
    EXPECT_EQ(KWStringUtils::ConvertStringToInt32("-17"), -17);
    EXPECT_EQ(KWStringUtils::ConvertStringToInt32("abc"), 0);
    EXPECT_EQ(KWStringUtils::ConvertStringToInt32("99999999999"), INT32_MAX);
    EXPECT_EQ(KWStringUtils::ConvertStringToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(KWStringUtils::ConvertStringToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(KWStringUtils::ConvertStringToInt64("123456789012345"), 123456789012345LL);
    EXPECT_EQ(KWStringUtils::ConvertInt32ToString(-5), "-5");
    EXPECT_DOUBLE_EQ(KWStringUtils::ConvertStringToDouble("12.500"), 12.5);
}

TEST(KWStringConvert, Utf8RepairAndFullWidth) {
    EXPECT_TRUE(KWStringConvert::IsValidUtf8("音乐"));
    EXPECT_FALSE(KWStringConvert::IsValidUtf8("a\xff"));
    EXPECT_FALSE(KWStringConvert::IsValidUtf8("\xc0\xaf"));  // overlong "/"
    EXPECT_FALSE(KWStringConvert::IsValidUtf8("\xe6\x9f"));  // cut short
    EXPECT_EQ(KWStringConvert::SanitizeUtf8("a\xff"
                                            "b"),
              "a\xef\xbf\xbd"
              "b");
    EXPECT_EQ(KWStringConvert::Utf32ToUtf8(KWStringConvert::Utf8ToUtf32("😀x")), "😀x");
    EXPECT_EQ(KWStringConvert::FullWidthToAscii("２０２６\u3000ＡＢ"), "2026AB");
}

TEST(KWStringToken, SplittingRules) {
    std::vector<std::string> parts;
    KWStringToken::StringToken("a, b;;c", ",; ", parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "c"}));
    KWStringToken::StringToArray("x||y||", "||", parts);
    EXPECT_EQ(parts, (std::vector<std::string>{"x", "y"}));
    KWStringToken::StringToArray("x||||y", "||", parts, true);
    EXPECT_EQ(parts, (std::vector<std::string>{"x", "", "y"}));
    KWStringToken::StringToArray("", ",", parts);
    EXPECT_TRUE(parts.empty());
}
