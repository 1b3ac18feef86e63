// The Win32 kit's text copies into fixed buffers: cut at a whole character, always terminated,
// and taken as plain text.
#include "common/win32/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using win32::AppendCut;
using win32::CopyCut;
using win32::WholeCharacterLength;

// "ab" and U+1F3AC as a surrogate pair.
const std::wstring kPair = L"ab\U0001F3AC";

TEST(Win32Text, CutsNeverSplitASurrogatePair) {
    ASSERT_EQ(kPair.size(), 4u);
    EXPECT_EQ(WholeCharacterLength(kPair, 4), 4u);
    EXPECT_EQ(WholeCharacterLength(kPair, 3), 2u); // not between the two halves
    EXPECT_EQ(WholeCharacterLength(kPair, 2), 2u);
    EXPECT_EQ(WholeCharacterLength(kPair, 0), 0u);
    // Text that is already broken (a lone first half) is cut where asked.
    EXPECT_EQ(WholeCharacterLength(std::wstring(L"a\xD83Cz"), 2), 2u);

    wchar_t buffer[4];
    EXPECT_EQ(CopyCut(buffer, kPair), 2u);
    EXPECT_EQ(std::wstring(buffer), L"ab");
    wchar_t exact[5];
    EXPECT_EQ(CopyCut(exact, kPair), 4u);
    EXPECT_EQ(std::wstring(exact), kPair);
}

TEST(Win32Text, CopiesAreTerminatedAndPlain) {
    wchar_t one[1] = {L'x'};
    EXPECT_EQ(CopyCut(one, L"abc"), 0u);
    EXPECT_EQ(one[0], L'\0');
    wchar_t untouched[2] = {L'x', L'y'};
    EXPECT_EQ(CopyCut(untouched, 0, L"abc"), 0u);
    EXPECT_EQ(untouched[0], L'x');

    // Format directives are text like any other.
    wchar_t path[260];
    CopyCut(path, L"C:\\100%s\\%n%d");
    EXPECT_EQ(std::wstring(path), L"C:\\100%s\\%n%d");
}

TEST(Win32Text, AppendsCutTheSameWay) {
    wchar_t path[8];
    CopyCut(path, L"C:\\");
    EXPECT_EQ(AppendCut(path, L"ab"), 5u);
    EXPECT_EQ(std::wstring(path), L"C:\\ab");
    // Two units left: the pair does not fit whole after "x", so only "x" is taken.
    EXPECT_EQ(AppendCut(path, L"x\U0001F3AC"), 6u);
    EXPECT_EQ(std::wstring(path), L"C:\\abx");
    EXPECT_EQ(AppendCut(path, L"yz"), 7u);
    EXPECT_EQ(AppendCut(path, L"more"), 7u);
    EXPECT_EQ(std::wstring(path), L"C:\\abxy");
}

} // namespace
