// The selection folder and name rules, and the walk over selected paths with real files.
#include "common/handoff/Selection.h"

#include "common/platform/FileSystem.h"
#include "tests/handoff/HandOffTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace handoff;
using handofftest::Backslashed;
using handofftest::CapturedLines;

TEST(SelectionFolderTest, DropsTheLastComponentButKeepsADriveRoot) {
    EXPECT_EQ(SelectionFolder(u"C:\\Movies\\a.avi"), u"C:\\Movies");
    EXPECT_EQ(SelectionFolder(u"C:\\a.avi"), u"C:");
    EXPECT_EQ(SelectionFolder(u"D:\\"), u"D:\\");
    EXPECT_EQ(SelectionFolder(u"C:\\A\\sub"), u"C:\\A");
    EXPECT_EQ(SelectionFolder(u"C:\\A\\sub\\"), u"C:\\A");
    EXPECT_EQ(SelectionFolder(u"\\x"), u"\\x"); // a backslash at index 0 does not count
    EXPECT_EQ(SelectionFolder(u"name"), u"name");
    EXPECT_EQ(SelectionFolder(u""), u"");
    EXPECT_EQ(FileNameOf(u"C:\\Music\\a.mp3"), u"a.mp3");
    EXPECT_EQ(FileNameOf(u"a.mp3"), u"a.mp3");
    EXPECT_EQ(FileNameOf(u"D:\\"), u"");
}

class CollectSelectionTest : public testing::Test {
  protected:
    std::u16string MakeFile(const std::string& relative) {
        const auto path = temp_.Path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return Backslashed(path);
    }
    std::u16string MakeFolder(const std::string& relative) {
        std::filesystem::create_directories(temp_.Path() / relative);
        return Backslashed(temp_.Path() / relative);
    }
    std::u16string Base() const { return Backslashed(temp_.Path()); }

    rpctest::TempFolder temp_;
    CapturedLines lines_;
};

TEST_F(CollectSelectionTest, CountsMediaFilesByTypeAndTakesTheFolderOfTheFirstItem) {
    const std::vector<std::u16string> paths = {MakeFile("a.txt"), MakeFile("b.mp3"),
                                               MakeFile("c.jpg"), MakeFile("d.mkv"), MakeFile("e")};
    Selection selection;
    CollectSelection(paths, selection);
    EXPECT_EQ(selection.fileCount, 3);
    EXPECT_EQ(selection.videoNames, std::vector<std::u16string>{u"d.mkv"});
    EXPECT_EQ(selection.audioNames, std::vector<std::u16string>{u"b.mp3"});
    EXPECT_EQ(selection.imageNames, std::vector<std::u16string>{u"c.jpg"});
    EXPECT_EQ(selection.folder, Base());
    EXPECT_TRUE(lines_.Has(u"CContextMenu::Initialize: m_nFileCount=3 (V1 A1 I1)\n"));
}

TEST_F(CollectSelectionTest, FoldersAndUnreadableItemsAreSkippedButAFirstFolderGivesTheFolder) {
    const std::vector<std::u16string> paths = {MakeFolder("A/sub"), MakeFile("A/x.mp3"),
                                               Base() + u"\\A\\gone.avi", MakeFile("B/x.mp3")};
    Selection selection;
    CollectSelection(paths, selection);
    EXPECT_EQ(selection.folder, Base() + u"\\A");
    // Same name from two folders: both listed by name only.
    EXPECT_EQ(selection.audioNames, (std::vector<std::u16string>{u"x.mp3", u"x.mp3"}));
    EXPECT_EQ(selection.fileCount, 2);
    EXPECT_TRUE(lines_.Has(u"CContextMenu:: GetFileAttributes Error \n"));
}

TEST_F(CollectSelectionTest, ASecondSelectionHandsOnNothingOfTheFirst) {
    Selection selection;
    const std::vector<std::u16string> first = {MakeFile("one.avi"), MakeFile("two.mp3")};
    CollectSelection(first, selection);
    const std::vector<std::u16string> second = {MakeFile("Other/three.png")};
    CollectSelection(second, selection);
    EXPECT_TRUE(selection.videoNames.empty());
    EXPECT_TRUE(selection.audioNames.empty());
    EXPECT_EQ(selection.imageNames, std::vector<std::u16string>{u"three.png"});
    EXPECT_EQ(selection.fileCount, 1);
    EXPECT_EQ(selection.folder, Base() + u"\\Other");

    // No paths at all: nothing kept, no count line.
    lines_.Clear();
    CollectSelection({}, selection);
    EXPECT_EQ(selection.fileCount, 0);
    EXPECT_TRUE(selection.imageNames.empty());
    EXPECT_TRUE(selection.folder.empty());
    EXPECT_TRUE(lines_.Lines().empty());
}

TEST_F(CollectSelectionTest, PathsOf260UnitsOrMoreAreSkippedAndAsFirstItemLeaveNothing) {
    const std::u16string tooLong = u"C:\\" + std::u16string(253, u'x') + u".mp3"; // 260 units
    ASSERT_EQ(tooLong.size(), kPathUnits);
    const std::u16string media = MakeFile("ok.avi");

    Selection selection;
    std::vector<std::u16string> paths = {media, tooLong};
    CollectSelection(paths, selection);
    EXPECT_EQ(selection.videoNames, std::vector<std::u16string>{u"ok.avi"});
    EXPECT_EQ(selection.fileCount, 1);
    EXPECT_TRUE(lines_.Has(u"CContextMenu:: Path of 260 units skipped \n"));

    paths = {tooLong, media};
    CollectSelection(paths, selection);
    EXPECT_EQ(selection.fileCount, 0);
    EXPECT_TRUE(selection.videoNames.empty());
    EXPECT_TRUE(selection.folder.empty());
    EXPECT_TRUE(lines_.Has(u"CContextMenu::Initialize: m_nFileCount=0 (V0 A0 I0)\n"));

    // 259 units is still a path.
    const std::u16string longest = u"C:\\" + std::u16string(252, u'x') + u".mp3";
    paths = {longest};
    CollectSelection(paths, selection);
    EXPECT_EQ(selection.folder, u"C:");
}

} // namespace
