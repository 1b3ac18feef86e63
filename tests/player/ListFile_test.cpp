// List files as the PC writes them, and every other layout reported.
#include "player/ListFile.h"

#include <gtest/gtest.h>

namespace player {
namespace {

Bytes Utf16(const std::u16string& text, bool bom = true) {
    Bytes bytes;
    if (bom)
        bytes = {0xFF, 0xFE};
    for (char16_t unit : text)
        PutU16(bytes, unit);
    return bytes;
}

std::vector<std::string> Rules(const Departures& departures) {
    std::vector<std::string> rules;
    for (const Departure& d : departures)
        rules.push_back(d.rule);
    return rules;
}

TEST(ListFile, TheSingleFileListOfTheHandOff) {
    const Bytes file = {0xFF, 0xFE, 0x61, 0x00, 0x2E, 0x00, 0x6D, 0x00,
                        0x70, 0x00, 0x33, 0x00, 0x0D, 0x00, 0x0A, 0x00};
    std::vector<std::u16string> names;
    EXPECT_TRUE(ParseListFile(file, names).empty());
    EXPECT_EQ(names, std::vector<std::u16string>{u"a.mp3"});
    EXPECT_TRUE(ParseListFile(Utf16(u"Clip \u00fc 100%.mkv\r\n\U0001F3B5.mp3\r\n"), names).empty());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Clip \u00fc 100%.mkv", u"\U0001F3B5.mp3"}));
}

TEST(ListFile, OtherLayoutsAreDepartures) {
    struct Case {
        Bytes bytes;
        std::vector<std::string> rules;
        std::size_t names;
    } cases[] = {
        {Utf16(u"a.mp3\r\n", false), {"list.bom"}, 0},
        {Utf16(u"a.mp3\nb.mp3\n"), {"list.line"}, 1}, // LF alone: one long line
        {Utf16(u"a.mp3\r\nb.mp3"), {"list.line"}, 2},
        {Utf16(u"a.mp3\r\n\r\nb.mp3\r\n"), {"list.line"}, 2},
        {Utf16(u"C:\\a.mp3\r\n"), {"list.name"}, 1},
        {Utf16(u""), {"list.empty"}, 0},
        {Bytes{}, {"list.bom"}, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::u16string> names;
        EXPECT_EQ(Rules(ParseListFile(c.bytes, names)), c.rules) << ToHex(c.bytes);
        EXPECT_EQ(names.size(), c.names) << ToHex(c.bytes);
    }
    Bytes odd = Utf16(u"a\r\n");
    odd.push_back(0);
    std::vector<std::u16string> names;
    EXPECT_EQ(Rules(ParseListFile(odd, names)), std::vector<std::string>{"list.odd"});
    EXPECT_EQ(names.size(), 1u);
}

} // namespace
} // namespace player
