// The UTF-16 formatter behind every diagnostic line and message box text.
#include "common/text/DebugPrint.h"
#include "common/text/Format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace text {
namespace {

TEST(Format, IntegerConversionsFollowPrintf) {
    EXPECT_EQ(Format(u"%d|%i|%u", -5, 7, 4000000000u), u"-5|7|4000000000");
    EXPECT_EQ(Format(u"%x %X %#x %o", 255, 255, 255, 8), u"ff FF 0xff 10");
    EXPECT_EQ(Format(u"%02x-%02x", 0x0a, 0xbc), u"0a-bc");
    EXPECT_EQ(Format(u"[%5d][%-5d][%05d][%+d][% d]", 42, 42, -42, 3, 3),
              u"[   42][42   ][-0042][+3][ 3]");
    EXPECT_EQ(Format(u"%.3d|%.0d", 7, 0), u"007|");
    // long is 32 bits as on Windows; ll and I64 take all 64.
    EXPECT_EQ(Format(u"%ld %lx", -1, -1), u"-1 ffffffff");
    EXPECT_EQ(Format(u"%lld %llx %I64u", -1LL, 0x123456789abcULL, 18446744073709551615ULL),
              u"-1 123456789abc 18446744073709551615");
    EXPECT_EQ(Format(u"%hd %hhu", 70000, 257), u"4464 1");
    // The pending result value prints as the manager shows it.
    EXPECT_EQ(Format(u"%s (Code:%d,%x)\n", u"Command timeout.", 4, 0xF0000000u),
              u"Command timeout. (Code:4,f0000000)\n");
}

TEST(Format, TextArgumentsAreNeverInterpreted) {
    const std::u16string path = u"C:\\100% %s %d\\film";
    EXPECT_EQ(Format(u"New share: %s", path), u"New share: C:\\100% %s %d\\film");
    EXPECT_EQ(Format(u"%s|%s", "caf\xC3\xA9", static_cast<const char16_t*>(nullptr)),
              u"caf\u00E9|(null)");
    EXPECT_EQ(Format(u"[%6s][%-6s][%.2s]", u"ab", u"ab", u"abcd"), u"[    ab][ab    ][ab]");
    EXPECT_EQ(Format(u"%c%c%c", u'A', 0xE9, 0x1F3AC), u"A\u00E9\U0001F3AC");
}

TEST(Format, MismatchesAndMissingArgumentsStaySafe) {
    EXPECT_EQ(Format(u"%d and %s"), u"%d and %s");
    EXPECT_EQ(Format(u"%d %d", 1), u"1 %d");
    EXPECT_EQ(Format(u"%d", u"text"), u"text");
    EXPECT_EQ(Format(u"%s", 12), u"12");
    EXPECT_EQ(Format(u"100%% %"), u"100% %");
    EXPECT_EQ(Format(u"%q %d", 5), u"%q 5");
    EXPECT_EQ(Format(u"%99999999999d", 1).size(), 4096u);
}

TEST(Format, CutsAtAWholeCharacter) {
    std::u16string text = u"abc";
    CutToFit(text, 4);
    EXPECT_EQ(text, u"abc");
    CutToFit(text, 3);
    EXPECT_EQ(text, u"ab");
    std::u16string pair = u"a\U0001F3AC";
    CutToFit(pair, 3); // room for two units, but the pair would be split
    EXPECT_EQ(pair, u"a");
    EXPECT_EQ(FormatCut(5, u"%s", u"abcdefgh"), u"abcd");

    char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(CopyCut(u"hello", buffer, 4), 3u);
    EXPECT_EQ(std::u16string(buffer), u"hel");
    EXPECT_EQ(CopyCut(u"hello", buffer, 0), 0u);
}

TEST(DebugPrint, LinesAreCutTo255UnitsAndReachTheSink) {
    std::vector<std::u16string> lines;
    const DebugSink previous =
        SetDebugSink([&](std::u16string_view line) { lines.emplace_back(line); });
    DebugPrint(u"Found Target num: %d\n", 3);
    DebugPrint(u"%s", std::u16string(400, u'z'));
    SetDebugSink(previous);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], u"Found Target num: 3\n");
    EXPECT_EQ(lines[1], std::u16string(kDebugLineUnits - 1, u'z'));
}

TEST(DebugPrint, SystemErrorLineCarriesTheCodeAndTheSystemText) {
    std::vector<std::u16string> lines;
    const DebugSink previous =
        SetDebugSink([&](std::u16string_view line) { lines.emplace_back(line); });
    DebugPrintSystemError(2);
    DebugPrintSystemError(0xDEADBEEF);
    SetDebugSink(previous);
    ASSERT_EQ(lines.size(), 2u);
    // Wine's texts differ from Windows' (and ours on POSIX): the code and some text.
    EXPECT_EQ(lines[0].substr(0, 16), u"GetLastError=2: ");
    EXPECT_GT(lines[0].size(), 20u);
    EXPECT_EQ(lines[1].substr(0, 24), u"GetLastError=-559038737:");
}

} // namespace
} // namespace text
