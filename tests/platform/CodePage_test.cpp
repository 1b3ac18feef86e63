// Code page conversions and upper-casing that file names and settings depend on, on both sides.
#include "common/platform/CodePage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

struct RoundTrip {
    std::uint32_t codePage;
    std::string bytes;
    std::u16string text;
};

TEST(CodePage, ConvertsBothWaysInEveryKindOfCodePage) {
    const RoundTrip cases[] = {
        {1252, "caf\xE9 \x80", u"caf\u00E9 \u20AC"},
        {65001, "caf\xC3\xA9 \xF0\x9F\x8E\xAC", u"caf\u00E9 \U0001F3AC"},
        {437, "\xC9\xCD\xBB \xB3", u"\u2554\u2550\u2557 \u2502"},
        {850, "\x82t\x82", u"\u00E9t\u00E9"},
        {866, "\x8F\xE0\xA8", u"\u041F\u0440\u0438"},
        {1251, "\xCF\xF0\xE8", u"\u041F\u0440\u0438"},
        {932, "\x93\xFA\x96\x7B a \xB1", u"\u65E5\u672C a \uFF71"},
        {936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
        {949, "\xC7\xD1\xB1\xDB", u"\uD55C\uAE00"},
        {950, "\xA4\xA4\xA4\xE5", u"\u4E2D\u6587"},
        {1252, "", u""},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.codePage);
        std::u16string text;
        ASSERT_TRUE(MultiByteToUtf16(c.codePage, c.bytes, text));
        EXPECT_EQ(text, c.text);
        std::string bytes;
        ASSERT_TRUE(Utf16ToMultiByte(c.codePage, c.text, bytes));
        EXPECT_EQ(bytes, c.bytes);
    }
}

TEST(CodePage, UnmappableCharactersAreReplacedNotFatal) {
    std::string bytes;
    ASSERT_TRUE(Utf16ToMultiByte(1252, u"a\u4E2Db", bytes));
    EXPECT_EQ(bytes, "a?b");
    ASSERT_TRUE(Utf16ToMultiByte(437, u"x\U0001F3ACy", bytes));
    EXPECT_EQ(bytes.front(), 'x');
    EXPECT_EQ(bytes.back(), 'y');
    EXPECT_EQ(bytes.find_first_not_of("x?y"), std::string::npos) << bytes;

    // A lead byte without a valid trail byte, and one cut off at the end of the input.
    std::u16string text;
    ASSERT_TRUE(MultiByteToUtf16(932,
                                 std::string("A\x81\x01"
                                             "B",
                                             4),
                                 text));
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.front(), u'A');
    EXPECT_EQ(text.back(), u'B');
    ASSERT_TRUE(MultiByteToUtf16(936, "A\xD6", text));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.front(), u'A');
    EXPECT_LE(text.size(), 2u);
}

TEST(CodePage, UnknownCodePageFails) {
    std::u16string text;
    std::string bytes;
    EXPECT_FALSE(MultiByteToUtf16(12345, "abc", text));
    EXPECT_FALSE(Utf16ToMultiByte(12345, u"abc", bytes));
}

TEST(CodePage, ListsInstalledCodePagesWithTheirNumberFirst) {
    EXPECT_NE(SystemAnsiCodePage(), 0u);
    const std::vector<CodePageInfo> pages = InstalledCodePages();
    for (const std::uint32_t wanted : {437u, 850u, 932u, 936u, 1252u}) {
        const auto found = std::find_if(pages.begin(), pages.end(),
                                        [&](const CodePageInfo& p) { return p.number == wanted; });
        ASSERT_NE(found, pages.end()) << wanted;
        const std::string name = Utf16ToUtf8(found->name);
        EXPECT_EQ(name.rfind(std::to_string(wanted), 0), 0u) << name;
    }
}

TEST(CodePage, ConcurrentConversionsStayCorrect) {
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&mismatches, t] {
            const std::uint32_t codePage = t % 2 == 0 ? 932 : 1252;
            const std::u16string text = t % 2 == 0 ? u"\u65E5\u672C.txt" : u"caf\u00E9.txt";
            for (int i = 0; i < 500; ++i) {
                std::string bytes;
                std::u16string back;
                if (!Utf16ToMultiByte(codePage, text, bytes) ||
                    !MultiByteToUtf16(codePage, bytes, back) || back != text)
                    ++mismatches;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(UpperCase, MapsLettersOfEveryScriptAndKeepsTheLength) {
    EXPECT_EQ(UpperCase(u"Movie_01.mkv"), u"MOVIE_01.MKV");
    EXPECT_EQ(UpperCase(u"stra\u00DFe \u00E9"), u"STRA\u00DFE \u00C9");
    EXPECT_EQ(UpperCase(u"\u03B1\u03B2\u03B3 \u0451\u0436"), u"\u0391\u0392\u0393 \u0401\u0416");
    EXPECT_EQ(UpperCase(u"\u00FF\u0101"), u"\u0178\u0100");
    EXPECT_EQ(UpperCase(u"\u65E5\u672C 123"), u"\u65E5\u672C 123");
    EXPECT_EQ(UpperCase(u"a\U0001F3ACb"), u"A\U0001F3ACB");
    EXPECT_EQ(UpperCase(u"a\xD800z"), u"A\xD800Z");
    EXPECT_EQ(UpperCase(u""), u"");
}

} // namespace
} // namespace platform
