// The help window's text: byte-order marks, line ends and the buffer of twice the file size.
#include "manager/core/HelpText.h"

#include <gtest/gtest.h>

#include <string>

namespace manager {
namespace {

using namespace std::string_literals;

TEST(HelpText, EmptyFileGivesEmptyText) {
    EXPECT_EQ(AssembleHelpText(""), u"");
}

TEST(HelpText, EachLineKeepsItsLineFeedAndGetsCrLf) {
    // No mark: UTF-8; the last line has no LF; CR LF in the file reads as LF.
    EXPECT_EQ(AssembleHelpText("ab\r\ncd"), u"ab\n\r\ncd\r\n");
    EXPECT_EQ(AssembleHelpText("\xEF\xBB\xBFx\xC3\xA9\n"), u"x\u00E9\n\r\n");
    EXPECT_EQ(AssembleHelpText("\xFF\xFEh\0i\0\n\0"s), u"hi\n\r\n");
}

TEST(HelpText, AssemblyStopsWithinTwiceTheFileSize) {
    // 2 bytes, 4 units: the line fits, its CR LF no longer does.
    EXPECT_EQ(AssembleHelpText("a\n"), u"a\n");
    // 4 bytes, 8 units: the third line is the last, without CR LF, and the fourth is dropped.
    EXPECT_EQ(AssembleHelpText("\n\n\n\n"), u"\n\r\n\n\r\n\n");
}

} // namespace
} // namespace manager
